import os
import sys

# Plain-Python references and shared helpers live beside the tests.
sys.path.insert(0, os.path.dirname(__file__))
