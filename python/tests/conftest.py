# The tests import the package from this tree and run against the simulated display of the
# default build, unless ZORSCK_LIBRARY names another library.
import os
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "python"))
os.environ.setdefault("ZORSCK_LIBRARY", os.path.join(ROOT, "build", "default", "src", "libzorsck-sim.so"))
