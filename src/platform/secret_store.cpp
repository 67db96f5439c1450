#include "platform/secret_store.h"

#include <libsecret/secret.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace platform {

namespace {

const SecretSchema* MailServerSchema() {
    static const SecretSchema schema = {
        "example.corvanti.Ombrik.MailServer",
        SECRET_SCHEMA_NONE,
        {{"account", SECRET_SCHEMA_ATTRIBUTE_STRING}, {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING}},
        0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
    return &schema;
}

// A keyring that waits for an unlock dialog nobody can answer must not hold the window up: each
// call is cancelled after a while.
class Deadline {
public:
    explicit Deadline(std::chrono::seconds limit) : cancellable_(g_cancellable_new()) {
        watcher_ = std::thread([this, limit] {
            std::unique_lock<std::mutex> lock(mutex_);
            if (!done_.wait_for(lock, limit, [this] { return finished_; })) g_cancellable_cancel(cancellable_);
        });
    }
    ~Deadline() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            finished_ = true;
        }
        done_.notify_one();
        watcher_.join();
        g_object_unref(cancellable_);
    }
    GCancellable* cancellable() const { return cancellable_; }

private:
    GCancellable* cancellable_;
    std::mutex mutex_;
    std::condition_variable done_;
    bool finished_ = false;
    std::thread watcher_;
};

constexpr std::chrono::seconds kKeyringLimit{30};

std::string TakeMessage(GError* error) {
    std::string text = error != nullptr && error->message != nullptr ? error->message : "the keyring failed";
    if (error != nullptr) g_error_free(error);
    return text;
}

}  // namespace

bool KeepSecret(const std::string& account, const std::string& secret, std::string& error) {
    GError* failure = nullptr;
    const std::string label = "Ombrik: mail server " + account;
    const Deadline deadline(kKeyringLimit);
    const gboolean kept = secret_password_store_sync(MailServerSchema(), SECRET_COLLECTION_DEFAULT, label.c_str(),
                                                     secret.c_str(), deadline.cancellable(), &failure, "account",
                                                     account.c_str(), nullptr);
    if (kept && failure == nullptr) return true;
    error = TakeMessage(failure);
    return false;
}

std::optional<std::string> KeptSecret(const std::string& account) {
    GError* failure = nullptr;
    const Deadline deadline(kKeyringLimit);
    gchar* secret =
        secret_password_lookup_sync(MailServerSchema(), deadline.cancellable(), &failure, "account", account.c_str(), nullptr);
    if (failure != nullptr) g_error_free(failure);
    if (secret == nullptr) return std::nullopt;
    std::string text(secret);
    secret_password_free(secret);
    return text;
}

void ForgetSecret(const std::string& account) {
    GError* failure = nullptr;
    const Deadline deadline(kKeyringLimit);
    secret_password_clear_sync(MailServerSchema(), deadline.cancellable(), &failure, "account", account.c_str(), nullptr);
    if (failure != nullptr) g_error_free(failure);
}

}  // namespace platform
