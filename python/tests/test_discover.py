"""discover() refuses a timeout it cannot wait, before any probe goes out (were
one sent, it would stay on loopback)."""
import math

import pytest

import korvane


@pytest.mark.parametrize("timeout", [-1, -0.001, math.nan, math.inf, -math.inf, 60.5, 1e30])
def test_a_timeout_that_is_no_wait_is_a_value_error(timeout: float) -> None:
    with pytest.raises(ValueError, match="timeout must be 0 to 60 seconds"):
        korvane.discover(timeout, interface="127.0.0.1")


@pytest.mark.parametrize("timeout", ["1", None, True])
def test_a_timeout_that_is_no_number_is_a_type_error(timeout: object) -> None:
    with pytest.raises(TypeError, match="timeout must be a number of seconds"):
        korvane.discover(timeout, interface="127.0.0.1")  # type: ignore[arg-type]
