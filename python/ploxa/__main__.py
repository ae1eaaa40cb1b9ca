import sys

from ploxa.cli import main

# Guarded: batch workers start by importing the parent's main module.
if __name__ == "__main__":
    sys.exit(main())
