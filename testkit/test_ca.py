"""The test CA and one certificate per loopback listener, made once per state folder and never
committed. Only the tests' own Wine prefix trusts the CA (trust_test_ca.exe); curl and Python take
ca.pem from the state folder."""
import os
import ssl
import subprocess
import time

CERTIFICATES = {  # name: (subject alternative names, days valid, signed by the test CA)
    "localhost": ("DNS:localhost,IP:127.0.0.1", 3650, True),
    "wrong_host": ("DNS:wrong-host.invalid", 3650, True),
    "expired": ("DNS:localhost,IP:127.0.0.1", -1, True),  # notAfter before now
    "untrusted": ("DNS:localhost,IP:127.0.0.1", 3650, False),  # self-signed
}


def openssl(*arguments):
    subprocess.run(["openssl", *arguments], check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def make_certificates(directory):
    """ca.pem, ca.der and NAME.pem/NAME.key for each of CERTIFICATES, unless ca.der is already there."""
    if os.path.exists(os.path.join(directory, "ca.der")):
        return
    os.makedirs(directory, exist_ok=True)
    path = lambda name: os.path.join(directory, name)  # noqa: E731
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", path("ca.key"), "-out", path("ca.pem"),
            "-days", "3650", "-subj", "/CN=Korvane Test CA",
            "-addext", "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign,cRLSign")
    for name, (names, days, signed) in CERTIFICATES.items():
        extensions = path(f"{name}.ext")
        with open(extensions, "w") as out:
            out.write(f"subjectAltName={names}\nbasicConstraints=CA:FALSE\n"
                      "keyUsage=digitalSignature,keyEncipherment\nextendedKeyUsage=serverAuth\n")
        openssl("req", "-newkey", "rsa:2048", "-nodes", "-keyout", path(f"{name}.key"), "-out", path(f"{name}.csr"),
                "-subj", "/CN=localhost")
        issuer = ["-CA", path("ca.pem"), "-CAkey", path("ca.key")] if signed else ["-signkey", path(f"{name}.key")]
        openssl("x509", "-req", "-in", path(f"{name}.csr"), *issuer, "-set_serial", str(int(time.time() * 1000)),
                "-days", str(days), "-extfile", extensions, "-out", path(f"{name}.pem"))
    # ca.der last: its presence says the whole set is there.
    openssl("x509", "-in", path("ca.pem"), "-outform", "DER", "-out", path("ca.der.tmp"))
    os.replace(path("ca.der.tmp"), path("ca.der"))


def tls_context(directory, name):
    """A server context presenting the certificate `name` of the state folder."""
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(os.path.join(directory, f"{name}.pem"), os.path.join(directory, f"{name}.key"))
    return context
