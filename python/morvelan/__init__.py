# The package is the compiled extension (morvelan/morvelan.abi3.so): its twelve
# names in its order, its __all__ and its (empty) docstring. Pure-Python parts
# of the package go beside this file.
from .morvelan import *  # noqa: F401,F403
from .morvelan import __all__, __doc__, __version__  # noqa: F401

# Private to the command line (_cli.py): no part of the API.
from .morvelan import _comments, _layout, _value_text  # noqa: F401

# Private to the tests: the two ways a document's text is read (the direct
# decoder's value, or None when it leaves the text to the parser; loads() with
# the tree parsed at once).
from .morvelan import _direct_value, _loads_tree  # noqa: F401
# Private to the tests: dumps() always through the document tree, and only
# straight from the objects (None where that writer gives up).
from .morvelan import _dumps_direct, _dumps_tree  # noqa: F401
