// Adds a DER certificate to the ROOT store of the current Wine prefix, so a test CA is trusted by
// the test processes and by nothing outside that prefix. Run it before the tested process makes its
// first HTTPS request: a process sees only the roots that were there when it first needed them.
//   trust_test_ca.exe CERTIFICATE.der
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

#include "common/cert_store.h"

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fputs("usage: trust_test_ca.exe CERTIFICATE.der\n", stderr);
        return 2;
    }
    std::ifstream file(argv[1], std::ios::binary);
    const std::vector<unsigned char> der{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    if (der.empty()) {
        std::fputs("trust_test_ca: cannot read the certificate\n", stderr);
        return 1;
    }
    common::UniqueCertStore store(CertOpenSystemStoreW(0, L"ROOT"));
    if (!store ||
        !CertAddEncodedCertificateToStore(store.get(), X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()),
                                          CERT_STORE_ADD_REPLACE_EXISTING, nullptr)) {
        std::fprintf(stderr, "trust_test_ca: cannot add the certificate (error %lu)\n", GetLastError());
        return 1;
    }
    return 0;
}
