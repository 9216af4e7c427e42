"""Raw loopback HTTP for the black-box tests: exact bytes in, exact bytes out."""
import socket


def read_to_end(sock, timeout=15):
    """Everything the server sends until it closes (a reset after the reply counts as
    the end too)."""
    sock.settimeout(timeout)
    data = b""
    while True:
        try:
            chunk = sock.recv(65536)
        except ConnectionResetError:
            break
        if not chunk:
            break
        data += chunk
    return data


def exchange(port, data, timeout=15):
    """Sends data on a new connection; what comes back until the server closes."""
    with socket.create_connection(("127.0.0.1", port), timeout=timeout) as sock:
        sock.sendall(data)
        return read_to_end(sock, timeout)


def answers(port):
    """Whether something accepts connections on the port."""
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=1):
            return True
    except OSError:
        return False
