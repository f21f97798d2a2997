"""A short tour of the _rust_core kernels."""
import numpy as np

import _rust_core as rc


def main() -> None:
    print("rust_available():", rc.rust_available())
    print("functions:", ", ".join(rc.__all__))
    rng = np.random.default_rng(7)
    x = rng.normal(size=(5, 2))
    y = rng.normal(size=(4, 2))
    print("squared Euclidean cost matrix of two 2-feature series (5 and 4 steps):")
    print(np.array2string(rc.squared_euclidean_cost_matrix(x, y), precision=3))


if __name__ == "__main__":
    main()
