import pathlib

import pytest

SHARED_VECTORS = pathlib.Path(__file__).resolve().parents[3] / "shared" / "vectors"


@pytest.fixture(scope="session")
def vectors() -> pathlib.Path:
    if not SHARED_VECTORS.is_dir():
        pytest.skip(f"test vectors not found at {SHARED_VECTORS}")
    return SHARED_VECTORS
