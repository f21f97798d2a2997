"""Prints the build requirements declared in pyproject.toml, one shell word each."""
import tomllib

with open("pyproject.toml", "rb") as f:
    print(" ".join(r.replace(" ", "") for r in tomllib.load(f)["build-system"]["requires"]))
