"""The shipped release-site configuration (site/nginx/) run by a private nginx on this machine: the
tests' servers, the demo and the benchmarks all serve through it, with the certificate that the test
CA (test_ca.py) issued for localhost in the same state folder.

The publisher's server block is read as shipped; only its deployment values are replaced (where it
listens, its name, its certificate and key, its root, where the rules file lies). Everything else,
the rules file included, is used unchanged. The process-level settings around it (no daemon, one
worker, pid, logs and temporary folders inside the state folder) are this machine's own.
"""
import ctypes
import os
import re
import signal
import socket
import subprocess
import time

SITE = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "site", "nginx")
SERVER_CONFIG = os.path.join(SITE, "korvane-release.conf")
RULES = os.path.join(SITE, "korvane-release-site.conf")


def server_block(port, certificate, key, root, host="localhost"):
    """The shipped server block with this machine's values; fails when a replaced directive is gone."""
    with open(SERVER_CONFIG, encoding="utf-8") as source:
        text = source.read()
    replacements = [
        (r"^(\s*)listen 443 ssl;\n", rf"\1listen 127.0.0.1:{port} ssl;\n"),
        (r"^\s*listen \[::\]:443 ssl;\n", ""),
        (r"^(\s*)server_name [^;]+;", rf"\1server_name {host};"),
        (r"^(\s*)ssl_certificate [^;]+;", rf"\1ssl_certificate {certificate};"),
        (r"^(\s*)ssl_certificate_key [^;]+;", rf"\1ssl_certificate_key {key};"),
        (r"^(\s*)root [^;]+;", rf"\1root {root};"),
        (r"^(\s*)include snippets/korvane-release-site\.conf;", rf"\1include {RULES};"),
    ]
    for pattern, replacement in replacements:
        text, count = re.subn(pattern, lambda m, r=replacement: m.expand(r), text, flags=re.M)
        if count != 1:
            raise RuntimeError(f"{SERVER_CONFIG}: expected one line matching {pattern!r}")
    return text


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def write_config(state, port, certificate, key, root, http_extra=""):
    """nginx.conf in `state` for a foreground nginx serving `root` on 127.0.0.1:`port`."""
    temp = os.path.join(state, "nginx-temp")
    os.makedirs(temp, exist_ok=True)
    config = os.path.join(state, "nginx.conf")
    with open(config + ".tmp", "w", encoding="utf-8") as out:
        out.write(f"""daemon off;
master_process off;
worker_processes 1;
pid {state}/nginx.pid;
error_log {state}/nginx-error.log;
events {{ worker_connections 64; }}
http {{
    access_log {state}/nginx-access.log;
    client_body_temp_path {temp}; proxy_temp_path {temp}; fastcgi_temp_path {temp};
    uwsgi_temp_path {temp}; scgi_temp_path {temp};
    default_type application/octet-stream;
    sendfile on;
{http_extra}
{server_block(port, certificate, key, root)}
}}
""")
    os.replace(config + ".tmp", config)
    return config


def die_with_parent():
    """nginx is killed with the process that started it, even when that one dies without cleaning up."""
    ctypes.CDLL("libc.so.6", use_errno=True).prctl(1, signal.SIGKILL)  # PR_SET_PDEATHSIG


def start(state, config, port):
    """Starts nginx in the foreground and returns its process once it accepts connections."""
    process = subprocess.Popen(["nginx", "-p", state, "-c", config], stdin=subprocess.DEVNULL,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, preexec_fn=die_with_parent)
    for _ in range(200):
        try:
            socket.create_connection(("127.0.0.1", port), timeout=0.1).close()
            return process
        except OSError:
            if process.poll() is not None:
                raise RuntimeError(f"nginx exited; see {state}/nginx-error.log")
            time.sleep(0.05)
    process.kill()
    process.wait()
    raise RuntimeError("nginx did not start listening")


def serve(state, port, root, http_extra=""):
    """nginx serving `root` on 127.0.0.1:`port` over TLS with the state folder's localhost certificate
    (test_ca.make_certificates(state) first); returns its process once it accepts connections."""
    config = write_config(state, port, os.path.join(state, "localhost.pem"), os.path.join(state, "localhost.key"),
                          root, http_extra)
    return start(state, config, port)
