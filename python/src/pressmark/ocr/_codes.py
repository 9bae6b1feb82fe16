"""The automation error numbers OCR raises, shared by the package and its
child process (which imports this file as a plain module beside it, without
the package)."""

# The component's own failure number (&H80004100), as every caller sees it.
ERR_COMPONENT = 0x80004100 - (1 << 32)
INVALID_CALL = 5
OUT_OF_MEMORY = 7
INTERNAL_ERROR = 51
FILE_NOT_FOUND = 53
PATH_NOT_FOUND = 76
CANNOT_CREATE = 429
