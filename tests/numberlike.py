"""Number-like test objects that are not int or float: they reach our converters through
the interpreter's __index__ and __float__ protocols (and, being user types, make a call
take the copying path for its arrays)."""


class Index:
    """Integer-like without being an int."""

    def __init__(self, v):
        self.v = v

    def __index__(self):
        return self.v


class Floaty:
    """Float-like without being a float: always 2.5."""

    def __float__(self):
        return 2.5
