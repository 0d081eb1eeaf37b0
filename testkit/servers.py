"""The running loopback test servers (tests/server/loopback_server.py, started by the ctest fixture
`test_servers` or by bench/run_bench.sh), scripted over their plain HTTP control port."""
import json
import os
import urllib.request

from testkit.checks import check

# Where the installer built for the loopback release site asks for its manifest.
MANIFEST_PATH = "/downloads/launcher-release.json"


class Servers:
    def __init__(self, folder):
        """`folder` is the servers' state folder; its file "ports" says where each listener is."""
        self.folder = folder
        with open(os.path.join(folder, "ports")) as ports:
            self.ports = dict(line.strip().split("=", 1) for line in ports if "=" in line)
        check("release" in self.ports, "the test servers run without the release listener")

    def control(self, command, body=None):
        request = urllib.request.Request(f"http://127.0.0.1:{self.ports['control']}/{command}",
                                         data=json.dumps(body or {}).encode(), method="POST")
        with urllib.request.urlopen(request, timeout=10) as response:
            return json.load(response)

    def serve_manifest(self, answers):
        """Forgets every script and record, then answers the installer's manifest request so."""
        self.control("reset")
        self.control("script", {"path": MANIFEST_PATH, "responses": answers})

    def requested(self, path):
        return any(record["path"] == path for record in self.control("records")["records"])

    def url(self, listener, path):
        return f"https://localhost:{self.ports[listener]}{path}"

    def www(self, *parts):
        """A folder under the root that nginx serves, made if missing."""
        folder = os.path.join(self.ports["www"], *parts)
        os.makedirs(folder, exist_ok=True)
        return folder

    @property
    def ca_pem(self):
        return os.path.join(self.folder, "ca.pem")
