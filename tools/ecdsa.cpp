#include "tools/ecdsa.h"

#include <fcntl.h>
#include <unistd.h>

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>
#include <openssl/pem.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <memory>
#include <stdexcept>

#include "crypto/hex.h"
#include "release/manifest_rules.h"
#include "tools/file_kind.h"

namespace tools {

namespace {

constexpr size_t kCoordinateBytes = 32;
constexpr size_t kPointBytes = 1 + 2 * kCoordinateBytes;  // 04 || X || Y
constexpr char kCurve[] = "prime256v1";

template <auto Free>
struct Deleter {
    template <typename T>
    void operator()(T* object) const noexcept {
        Free(object);
    }
};
using PKey = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY_free>>;
using MdContext = std::unique_ptr<EVP_MD_CTX, Deleter<EVP_MD_CTX_free>>;
using PKeyContext = std::unique_ptr<EVP_PKEY_CTX, Deleter<EVP_PKEY_CTX_free>>;
using Signature = std::unique_ptr<ECDSA_SIG, Deleter<ECDSA_SIG_free>>;
using ParamBuilder = std::unique_ptr<OSSL_PARAM_BLD, Deleter<OSSL_PARAM_BLD_free>>;
using Params = std::unique_ptr<OSSL_PARAM, Deleter<OSSL_PARAM_free>>;
using File = std::unique_ptr<FILE, Deleter<std::fclose>>;
using OpenSslBytes = std::unique_ptr<unsigned char, Deleter<[](unsigned char* p) { OPENSSL_free(p); }>>;

void require(bool ok, const char* what) {
    if (!ok) throw std::runtime_error(what);
}

std::string public_hex_of(EVP_PKEY* key) {
    std::array<unsigned char, kPointBytes> point{};
    size_t length = 0;
    require(EVP_PKEY_get_octet_string_param(key, OSSL_PKEY_PARAM_PUB_KEY, point.data(), point.size(), &length) == 1 &&
                length == kPointBytes && point[0] == 0x04,
            "the key has no uncompressed P-256 public point");
    return crypto::hex_from_bytes(point.data() + 1, 2 * kCoordinateBytes);
}

// The first line of the passphrase file, or what the publisher types at the terminal; asked for
// at most once, and only when the key turns out to be protected.
struct Passphrase {
    const PrivateKeySource* source = nullptr;
    std::string text;
    bool known = false;        // read from the file, or typed
    bool used = false;         // the key asked for it
    bool unavailable = false;  // no file and no terminal
};

std::string read_passphrase_file(const std::filesystem::path& file) {
    File stream(std::fopen(file.c_str(), "rb"));
    require(stream != nullptr, ("cannot read the passphrase file " + file.string()).c_str());
    std::string text;
    for (int c = std::fgetc(stream.get()); c != EOF && c != '\n' && c != '\r'; c = std::fgetc(stream.get())) {
        text.push_back(static_cast<char>(c));
    }
    require(!text.empty(), ("the passphrase file " + file.string() + " holds no passphrase on its first line").c_str());
    return text;
}

// Called by OpenSSL only for a protected key; never throws through it.
int give_passphrase(char* buffer, int size, int, void* opaque) {
    auto& passphrase = *static_cast<Passphrase*>(opaque);
    passphrase.used = true;
    if (!passphrase.known && !passphrase.unavailable) {
        // OpenSSL reads from the controlling terminal with echo off; without one there is nobody to ask.
        const int terminal = open("/dev/tty", O_RDWR | O_NOCTTY);
        if (terminal < 0) {
            passphrase.unavailable = true;
            return -1;
        }
        close(terminal);
        std::vector<char> typed(1024);
        const std::string prompt = "passphrase for " + passphrase.source->file.string() + ": ";
        if (EVP_read_pw_string(typed.data(), static_cast<int>(typed.size()), prompt.c_str(), 0) == 0) {
            passphrase.text = typed.data();
            passphrase.known = true;
        } else {
            passphrase.unavailable = true;
        }
        OPENSSL_cleanse(typed.data(), typed.size());
    }
    if (!passphrase.known || passphrase.text.size() > static_cast<size_t>(size)) return -1;
    std::copy(passphrase.text.begin(), passphrase.text.end(), buffer);
    return static_cast<int>(passphrase.text.size());
}

PKey load_private_key(const PrivateKeySource& source) {
    const std::string name = source.file.string();
    const FileKind kind = sniff_file(source.file);
    if (kind == FileKind::Missing || kind == FileKind::Folder || kind == FileKind::Unreadable) {
        throw std::runtime_error("private key " + name + ": " + describe_file_kind(kind));
    }
    if (kind == FileKind::PemPublicKey || kind == FileKind::HexPublicKey) {
        throw std::runtime_error(name + " holds a public key; --key takes the private key (the PEM file keygen wrote)");
    }
    File stream(std::fopen(source.file.c_str(), "rb"));
    require(stream != nullptr, ("cannot open the private key " + name).c_str());
    Passphrase passphrase;
    passphrase.source = &source;
    if (!source.passphraseFile.empty()) {
        passphrase.text = read_passphrase_file(source.passphraseFile);
        passphrase.known = true;
    }
    PKey key(PEM_read_PrivateKey(stream.get(), nullptr, give_passphrase, &passphrase));
    if (key == nullptr) {
        if (passphrase.unavailable) {
            throw std::runtime_error(name +
                                     " is protected by a passphrase and there is no terminal to ask it on: give "
                                     "--passphrase-file FILE");
        }
        if (passphrase.used) throw std::runtime_error("wrong passphrase for the private key " + name);
        throw std::runtime_error(name + " is not a PEM private key (it is " + describe_file_kind(kind) +
                                 "); --key takes the PEM file keygen wrote");
    }
    char group[32] = {};
    size_t groupLength = 0;
    require(EVP_PKEY_is_a(key.get(), "EC") &&
                EVP_PKEY_get_group_name(key.get(), group, sizeof group, &groupLength) == 1 &&
                std::string_view(group, groupLength) == kCurve,
            ("not an ECDSA P-256 key: " + name + " (the installer verifies P-256 signatures only)").c_str());
    return key;
}

PKey public_key_from_hex(std::string_view publicKeyHex) {
    std::vector<unsigned char> point = {0x04};
    const std::vector<unsigned char> coordinates = release::decode_hex(publicKeyHex, 2 * kCoordinateBytes);
    point.insert(point.end(), coordinates.begin(), coordinates.end());

    ParamBuilder builder(OSSL_PARAM_BLD_new());
    require(
        builder != nullptr &&
            OSSL_PARAM_BLD_push_utf8_string(builder.get(), OSSL_PKEY_PARAM_GROUP_NAME, kCurve, 0) == 1 &&
            OSSL_PARAM_BLD_push_octet_string(builder.get(), OSSL_PKEY_PARAM_PUB_KEY, point.data(), point.size()) == 1,
        "out of memory");
    Params params(OSSL_PARAM_BLD_to_param(builder.get()));
    PKeyContext context(EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr));
    EVP_PKEY* raw = nullptr;
    require(params != nullptr && context != nullptr && EVP_PKEY_fromdata_init(context.get()) == 1 &&
                EVP_PKEY_fromdata(context.get(), &raw, EVP_PKEY_PUBLIC_KEY, params.get()) == 1,
            "the public key is not a point on P-256");
    return PKey(raw);
}

}  // namespace

std::string generate_release_key(const std::filesystem::path& privateKeyFile,
                                 const std::filesystem::path& passphraseFile) {
    const std::string passphrase = passphraseFile.empty() ? std::string() : read_passphrase_file(passphraseFile);
    PKey key(EVP_EC_gen(kCurve));
    require(key != nullptr, "cannot generate a P-256 key");
    // O_EXCL: a key that already exists is never replaced; 0600 from the start, not after a chmod.
    const int descriptor = open(privateKeyFile.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    require(descriptor >= 0, ("cannot create " + privateKeyFile.string() + " (it must not exist yet)").c_str());
    File stream(fdopen(descriptor, "wb"));
    if (stream == nullptr) {
        close(descriptor);
    }
    const EVP_CIPHER* cipher = passphrase.empty() ? nullptr : EVP_aes_256_cbc();
    const bool written =
        stream != nullptr &&
        PEM_write_PrivateKey(stream.get(), key.get(), cipher,
                             reinterpret_cast<const unsigned char*>(passphrase.empty() ? nullptr : passphrase.data()),
                             static_cast<int>(passphrase.size()), nullptr, nullptr) == 1 &&
        std::fflush(stream.get()) == 0 && fsync(fileno(stream.get())) == 0;
    const bool closed = stream != nullptr && std::fclose(stream.release()) == 0;
    if (!written || !closed) {
        std::remove(privateKeyFile.c_str());
        throw std::runtime_error("cannot write " + privateKeyFile.string());
    }
    return public_hex_of(key.get());
}

void SigningKey::Free::operator()(evp_pkey_st* key) const noexcept {
    EVP_PKEY_free(key);
}

SigningKey::SigningKey(const PrivateKeySource& source) : key_(load_private_key(source).release()) {}

std::string SigningKey::public_hex() const {
    return public_hex_of(key_.get());
}

std::vector<unsigned char> SigningKey::sign(std::string_view message) const {
    EVP_PKEY* const key = key_.get();
    MdContext context(EVP_MD_CTX_new());
    size_t derLength = 0;
    require(context != nullptr && EVP_DigestSignInit(context.get(), nullptr, EVP_sha256(), nullptr, key) == 1 &&
                EVP_DigestSign(context.get(), nullptr, &derLength,
                               reinterpret_cast<const unsigned char*>(message.data()), message.size()) == 1,
            "cannot sign");
    std::vector<unsigned char> der(derLength);
    require(EVP_DigestSign(context.get(), der.data(), &derLength,
                           reinterpret_cast<const unsigned char*>(message.data()), message.size()) == 1,
            "cannot sign");
    // OpenSSL writes DER SEQUENCE { r, s }; the installer takes the two integers side by side.
    const unsigned char* cursor = der.data();
    Signature parsed(d2i_ECDSA_SIG(nullptr, &cursor, static_cast<long>(derLength)));
    require(parsed != nullptr, "cannot read the signature");
    std::vector<unsigned char> signature(2 * kCoordinateBytes);
    require(BN_bn2binpad(ECDSA_SIG_get0_r(parsed.get()), signature.data(), kCoordinateBytes) == kCoordinateBytes &&
                BN_bn2binpad(ECDSA_SIG_get0_s(parsed.get()), signature.data() + kCoordinateBytes, kCoordinateBytes) ==
                    kCoordinateBytes,
            "cannot read the signature");
    return signature;
}

std::string public_key_of_pem(std::string_view pem, const std::string& source) {
    using Bio = std::unique_ptr<BIO, Deleter<BIO_free>>;
    Bio bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    require(bio != nullptr, "out of memory");
    PKey key(PEM_read_bio_PUBKEY(bio.get(), nullptr, nullptr, nullptr));
    char group[32] = {};
    size_t groupLength = 0;
    require(key != nullptr && EVP_PKEY_is_a(key.get(), "EC") &&
                EVP_PKEY_get_group_name(key.get(), group, sizeof group, &groupLength) == 1 &&
                std::string_view(group, groupLength) == kCurve,
            (source + " is not an ECDSA P-256 public key").c_str());
    return public_hex_of(key.get());
}

bool verify_release_text(std::string_view publicKeyHex, std::string_view message,
                         const std::vector<unsigned char>& signature) {
    const PKey key = public_key_from_hex(publicKeyHex);
    require(signature.size() == 2 * kCoordinateBytes, "a signature is 64 bytes");
    Signature parsed(ECDSA_SIG_new());
    BIGNUM* r = BN_bin2bn(signature.data(), kCoordinateBytes, nullptr);
    BIGNUM* s = BN_bin2bn(signature.data() + kCoordinateBytes, kCoordinateBytes, nullptr);
    if (parsed == nullptr || r == nullptr || s == nullptr || ECDSA_SIG_set0(parsed.get(), r, s) != 1) {
        BN_free(r);
        BN_free(s);
        throw std::runtime_error("out of memory");
    }
    unsigned char* derRaw = nullptr;
    const int derLength = i2d_ECDSA_SIG(parsed.get(), &derRaw);
    OpenSslBytes der(derRaw);
    require(derLength > 0, "out of memory");
    MdContext context(EVP_MD_CTX_new());
    require(context != nullptr && EVP_DigestVerifyInit(context.get(), nullptr, EVP_sha256(), nullptr, key.get()) == 1,
            "cannot verify");
    return EVP_DigestVerify(context.get(), der.get(), static_cast<size_t>(derLength),
                            reinterpret_cast<const unsigned char*>(message.data()), message.size()) == 1;
}

std::string key_fingerprint(std::string_view publicKeyHex) {
    std::array<unsigned char, 32> digest{};
    unsigned int length = 0;
    require(EVP_Digest(publicKeyHex.data(), publicKeyHex.size(), digest.data(), &length, EVP_sha256(), nullptr) == 1,
            "cannot hash");
    return crypto::hex_from_bytes(digest.data(), 8);
}

std::string sha256_file_hex(const std::filesystem::path& file) {
    File stream(std::fopen(file.c_str(), "rb"));
    require(stream != nullptr, ("cannot open " + file.string()).c_str());
    MdContext context(EVP_MD_CTX_new());
    require(context != nullptr && EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) == 1, "cannot hash");
    std::vector<unsigned char> buffer(65536);
    size_t count = 0;
    while ((count = std::fread(buffer.data(), 1, buffer.size(), stream.get())) > 0) {
        require(EVP_DigestUpdate(context.get(), buffer.data(), count) == 1, "cannot hash");
    }
    require(std::ferror(stream.get()) == 0, ("cannot read " + file.string()).c_str());
    std::array<unsigned char, 32> digest{};
    unsigned int digestLength = 0;
    require(EVP_DigestFinal_ex(context.get(), digest.data(), &digestLength) == 1 && digestLength == digest.size(),
            "cannot hash");
    return crypto::hex_from_bytes(digest.data(), digest.size());
}

}  // namespace tools
