#pragma once
// A certificate authority of a test's own and server certificates, made with
// the openssl command in a scratch folder that goes with the object.

#include <string>

class TTestCertificates {
public:
    // Makes, under a fresh folder: the authority (Ca), a good certificate for
    // localhost, 127.0.0.1 and ::1 signed by it (Good), one signed by it for
    // another name only (WrongName), one signed by it that has expired
    // (Expired), and one for the right names that signs itself (SelfSigned).
    TTestCertificates();
    ~TTestCertificates();
    TTestCertificates(const TTestCertificates&) = delete;
    TTestCertificates& operator=(const TTestCertificates&) = delete;

    bool Ok() const { return FOk; }
    const std::string& Why() const { return FWhy; }  // when not Ok

    std::string CaFile() const { return FDir + "/ca.crt"; }
    std::string KeyFile() const { return FDir + "/server.key"; }  // the key of every server certificate
    std::string Good() const { return FDir + "/good.crt"; }
    std::string WrongName() const { return FDir + "/wrongname.crt"; }
    std::string Expired() const { return FDir + "/expired.crt"; }
    std::string SelfSigned() const { return FDir + "/selfsigned.crt"; }

private:
    bool Run(const std::string& command);

    std::string FDir;
    bool FOk = false;
    std::string FWhy;
};
