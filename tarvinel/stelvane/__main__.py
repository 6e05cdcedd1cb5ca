"""python -m tarvinel.stelvane: the demo application (see app.py)."""

# The producer process is started with "spawn", which imports this module
# again under another name: only the real start may load Qt and run the window.
if __name__ == "__main__":
    import sys

    from .app import main

    sys.exit(main())
