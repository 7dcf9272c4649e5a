"""The example under examples/ loads its workbook, prices the order, saves it and prints it."""
import runpy
import sys
from pathlib import Path

import morvane


def test_example_prices_the_order(capsys, monkeypatch, tmp_path):
    out_path = tmp_path / "priced.ods"
    script = Path(__file__).parent.parent / "examples" / "run_example.py"
    monkeypatch.setattr(sys, "argv", [str(script), str(out_path)])
    runpy.run_path(str(script), run_name="__main__")
    out = capsys.readouterr().out.splitlines()
    assert "153.9" in out[6] and "Total" in out[6]
    assert "2 small, 1 medium, 1 large" in out[7]
    assert "Free shipping" in out[8]
    assert out[-1] == f"saved to {out_path}"
    assert morvane.load_workbook(str(out_path), sheet="order").get_cell(7, 4) == 153.9
