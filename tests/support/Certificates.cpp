#include "tests/support/Certificates.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace {

constexpr const char* kKey = "-newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes";

}  // namespace

TTestCertificates::TTestCertificates()
{
    char pattern[] = "/tmp/orvel-certs-XXXXXX";
    if (!mkdtemp(pattern)) {
        FWhy = "no scratch folder";
        return;
    }
    FDir = pattern;
    {
        std::ofstream(FDir + "/right.ext") << "subjectAltName=DNS:localhost,IP:127.0.0.1,IP:::1\n";
        std::ofstream(FDir + "/wrong.ext") << "subjectAltName=DNS:wrong.example\n";
    }
    const std::string ca = "-CA ca.crt -CAkey ca.key -CAcreateserial";
    FOk = Run("openssl req -x509 " + std::string(kKey) + " -keyout ca.key -out ca.crt -subj /CN=OrvelTestCA -days 2")
        && Run("openssl req " + std::string(kKey) + " -keyout server.key -out server.csr -subj /CN=localhost")
        && Run("openssl x509 -req -in server.csr " + ca + " -days 2 -extfile right.ext -out good.crt")
        && Run("openssl x509 -req -in server.csr " + ca + " -days 2 -extfile wrong.ext -out wrongname.crt")
        // -1: valid until a day before now.
        && Run("openssl x509 -req -in server.csr " + ca + " -days -1 -extfile right.ext -out expired.crt")
        && Run("openssl x509 -req -in server.csr -signkey server.key -days 2 -extfile right.ext -out selfsigned.crt");
}

TTestCertificates::~TTestCertificates()
{
    if (!FDir.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(FDir, ignored);
    }
}

bool TTestCertificates::Run(const std::string& command)
{
    const std::string line = "cd '" + FDir + "' && " + command + " >openssl.log 2>&1";
    if (std::system(line.c_str()) == 0)
        return true;
    FWhy = "failed: " + command + " (is the openssl command installed?)";
    return false;
}
