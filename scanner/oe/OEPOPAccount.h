// OEPOPAccount: the settings of one POP3 account of an Outlook Express
// identity, as the Internet Account Manager keeps them in the registry. Every
// setting is text: a numeric registry value arrives as its decimal text, an
// absent one as empty text.
#pragma once

#include <string>

namespace qb::oe {

class OEPOPAccount {
  public:
    // Setters, each with the registry value it mirrors.
    void accountname(const std::string& v) { accountName_ = v; }            // "Account Name"
    void POPServer(const std::string& v) { popServer_ = v; }                // "POP3 Server"
    void POP3Port(const std::string& v) { pop3Port_ = v; }                  // "POP3 Port"
    void Username(const std::string& v) { userName_ = v; }                  // "POP3 User Name"
    void SMTPEmailAddress(const std::string& v) { smtpEmailAddress_ = v; }  // "SMTP Email Address"
    void SMTPServer(const std::string& v) { smtpServer_ = v; }              // "SMTP Server"
    void SetKey(const std::string& v) { key_ = v; }  // the account's subkey name
    void POP3SecureConnection(const std::string& v) { pop3SecureConnection_ = v; }
    void POP3UseSicily(const std::string& v) { pop3UseSicily_ = v; }
    void SMTPUseSicily(const std::string& v) { smtpUseSicily_ = v; }

    const std::string& key() const { return key_; }
    const std::string& Account_Name() const { return accountName_; }
    const std::string& POP_Server() const { return popServer_; }
    const std::string& User_name() const { return userName_; }
    const std::string& SMTP_Email_Address() const { return smtpEmailAddress_; }
    const std::string& SMTP_Server() const { return smtpServer_; }
    const std::string& POP3_Port() const { return pop3Port_; }
    const std::string& POP3_Secure_Connection() const { return pop3SecureConnection_; }
    const std::string& POP3_Use_Sicily() const { return pop3UseSicily_; }
    const std::string& SMTP_Use_Sicily() const { return smtpUseSicily_; }

  private:
    std::string accountName_;
    std::string popServer_;
    std::string pop3Port_;
    std::string userName_;
    std::string smtpEmailAddress_;
    std::string smtpServer_;
    std::string key_;
    std::string pop3SecureConnection_;
    std::string pop3UseSicily_;
    std::string smtpUseSicily_;
};

}  // namespace qb::oe
