"""python -m zorsck and the zorsck command: a Ctrl-C while the command loads exits 130 too."""
import sys


def main():
    """Loads the command line (zorsck.cli) and runs it; 130 on a Ctrl-C before it takes over."""
    try:
        from .cli import main as run
        return run()
    except KeyboardInterrupt:
        return 130


if __name__ == "__main__":
    sys.exit(main())
