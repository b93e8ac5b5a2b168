"""Detaching a test server once it listens, for the scripts that start one for a test run."""
import os


def detach(pidfile_path):
    """Continues in a child of its own session with no standard streams; the parent writes the
    child's pid to the file and exits, so its caller knows the server listens already."""
    child = os.fork()
    if child != 0:
        with open(pidfile_path, "w") as pidfile:
            pidfile.write(str(child))
        os._exit(0)
    os.setsid()
    devnull = os.open(os.devnull, os.O_RDWR)
    for fd in (0, 1, 2):
        os.dup2(devnull, fd)
