"""Reads the UCR archive series kept in demo/data/ucr (the archive's .ts text files, xz-compressed)
and the error rates the archive publishes for its 1-nearest-neighbour baselines."""

import lzma
from pathlib import Path

import numpy as np

DATA = Path(__file__).resolve().parent / "data" / "ucr"

# Test error rates of 1-NN under Euclidean distance and under DTW without a window, as the
# archive's summary table lists them (rounded to four places there).
PUBLISHED_ERROR = {
    "GunPoint": (0.0867, 0.0933),
    "ItalyPowerDemand": (0.0447, 0.0496),
    "ArrowHead": (0.2000, 0.2971),
}


def load(name: str, split: str) -> tuple[np.ndarray, np.ndarray]:
    """The series of one split as float64 (n, length, 1) and their class labels as strings.

    Values are parsed from the archive's decimal text with Python's correctly rounded float(),
    so they are exactly the doubles the archive's numbers denote."""
    series, labels = [], []
    with lzma.open(DATA / f"{name}_{split}.ts.xz", "rt", encoding="utf-8") as f:
        in_data = False
        for line in f:
            line = line.strip()
            if not in_data:
                in_data = line.lower() == "@data"
                continue
            if line:
                values, label = line.rsplit(":", 1)
                series.append([float(v) for v in values.split(",")])
                labels.append(label)
    return np.array(series, dtype=np.float64)[:, :, None], np.array(labels)
