import sys

from ploxa.cli import main

sys.exit(main())
