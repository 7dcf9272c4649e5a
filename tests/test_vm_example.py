"""The example under examples/ runs and prints its priced order."""
import runpy
from pathlib import Path


def test_example_prices_the_order(capsys):
    runpy.run_path(str(Path(__file__).parent.parent / "examples" / "run_example.py"), run_name="__main__")
    out = capsys.readouterr().out.splitlines()
    assert "153.9" in out[6] and "Total" in out[6]
    assert "2 small, 1 medium, 1 large" in out[7]
    assert "Free shipping" in out[8]
