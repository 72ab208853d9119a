"""`python -m pykorvane ...` runs the `korvane` command-line tool."""
import sys

from .cli import main

sys.exit(main())
