"""python3 -m lumasift INPUT OUTPUT [options]: see lumasift.cli, or --help."""

import sys

from lumasift.cli import main

# Guarded: a local cluster's worker processes import this module again.
if __name__ == "__main__":
    sys.exit(main())
