import numpy as np
import pytest

import _rust_core
from helpers import PanicException


def test_rust_available():
    assert _rust_core.rust_available() is True
