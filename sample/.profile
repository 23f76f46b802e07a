# a file whose name begins with a dot
