"""python -m zorsck: the zorsck command (see zorsck.cli)."""
import sys

from .cli import main

sys.exit(main())
