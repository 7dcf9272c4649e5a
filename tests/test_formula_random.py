"""Random numbers: RAND, RANDBETWEEN and RANDARRAY."""
import pytest

from formulahelp import NA, VALUE, evaluate, failure, shown_for


def draws(formula, n=300):
    return [evaluate(formula) for _ in range(n)]


def test_rand_is_a_fraction():
    values = draws("=RAND()")
    assert all(type(x) is float and 0 <= x < 1 for x in values)
    assert len(set(values)) > 1


@pytest.mark.parametrize("formula,allowed", [
    ("=RANDBETWEEN(5,5)", {5}),
    ("=RANDBETWEEN(1.9,3.9)", {1, 2, 3}),  # bounds truncated
    ("=RANDBETWEEN(-3,-1)", {-3, -2, -1}),
    ("=RANDBETWEEN(-9000000000000000000,9000000000000000000)", None),
])
def test_randbetween_stays_within_its_bounds(formula, allowed):
    values = draws(formula)
    assert all(type(x) is int for x in values)
    if allowed is None:
        assert all(-9 * 10**18 <= x <= 9 * 10**18 for x in values)
    else:
        assert set(values) <= allowed


def test_randarray_shapes_and_ranges():
    assert type(evaluate("=RANDARRAY()")) is float
    # No rows or no columns: an empty list no cell can show.
    assert evaluate("=RANDARRAY(0,0)") == VALUE
    assert evaluate("=RANDARRAY(0)") == VALUE
    assert evaluate("=RANDARRAY(2,-1)") == VALUE
    grid = evaluate("=RANDARRAY(2,3)")
    assert len(grid) == 6 and all(type(x) is float and 0 <= x < 1 for x in grid)
    assert evaluate("=RANDARRAY(3,1,2,2,TRUE)") == [2, 2, 2]
    scaled = evaluate("=RANDARRAY(500,1,-5,5)")
    assert all(-5 <= x < 5 for x in scaled)
    # The sequence goes on across formulas of one thread.
    assert evaluate("=RANDARRAY(4)") != evaluate("=RANDARRAY(4)")


def test_randarray_whole_numbers_reach_max():
    dice = evaluate("=RANDARRAY(2000,1,1,6,TRUE)")
    assert all(type(x) is int for x in dice)
    assert set(dice) == {1, 2, 3, 4, 5, 6}
    # Fractional bounds keep the whole numbers between them.
    assert set(evaluate("=RANDARRAY(500,1,0.5,3.5,TRUE)")) == {1, 2, 3}
    assert evaluate("=RANDARRAY(1,1,1.2,1.8,TRUE)") == VALUE


@pytest.mark.parametrize("formula,message", [
    ("=RAND(1)", "RAND takes no arguments"),
    ("=RANDBETWEEN(1)", "RANDBETWEEN requires 2 arguments"),
    ("=RANDBETWEEN(6,5)", "RANDBETWEEN: bottom > top"),
    ("=RANDARRAY(1,1,5)", "RANDARRAY: max must be >= min"),
    ("=RANDARRAY(1001,1000)", "Range too large (1001000 cells); maximum is 1,000,000"),
    ("=RANDARRAY(100000000000,100000000000)",
     "Range too large (10000000000000000000000 cells); maximum is 1,000,000"),
    ("=RANDARRAY(\"x\")", "Cannot convert 'x' to a number"),
])
def test_random_failures(formula, message):
    assert failure(formula) == shown_for(message)


def test_error_arguments_propagate():
    assert evaluate("=RANDARRAY(2,2,0,1,NA())") == NA
    assert evaluate("=RANDBETWEEN(NA(),1)") == NA
