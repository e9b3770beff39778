# The package is the compiled extension (morvelan/morvelan.abi3.so): its twelve
# names in its order, its __all__ and its (empty) docstring. Pure-Python parts
# of the package go beside this file.
from .morvelan import *  # noqa: F401,F403
from .morvelan import __all__, __doc__, __version__  # noqa: F401
