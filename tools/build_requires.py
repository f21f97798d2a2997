"""Prints the build requirements declared in pyproject.toml, or with an extra's name as argument
that extra's requirements, one shell word each."""
import sys
import tomllib

with open("pyproject.toml", "rb") as f:
    project = tomllib.load(f)
if len(sys.argv) > 1:
    requirements = project["project"]["optional-dependencies"][sys.argv[1]]
else:
    requirements = project["build-system"]["requires"]
print(" ".join(r.replace(" ", "") for r in requirements))
