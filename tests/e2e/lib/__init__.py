"""Helpers shared by the end-to-end tests: Wine machines (wine), KstTrace and
KstProbe output (escape, probe), .reg files (regfile) and PE resources (pe)."""
from .wine import (Build, HarnessError, PrefixCache, Result, TraceLine, WineMachine,  # noqa: F401
                   WineToolError, winpath)
