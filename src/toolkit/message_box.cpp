#include "toolkit/message_box.h"

#include <atomic>
#include <cstdio>
#include <mutex>

namespace mirka {
namespace {

class StandardErrorPresenter : public MessagePresenter {
public:
    int Present(unsigned, const WString& caption, const WString& text) override {
        static std::mutex writeLock;
        std::lock_guard<std::mutex> lock(writeLock);
        std::fprintf(stderr, "[%s] %s\n", ToUtf8(caption).c_str(), ToUtf8(text).c_str());
        return kIdOk;
    }
};

StandardErrorPresenter defaultPresenter;
std::atomic<MessagePresenter*> installed{nullptr};

}  // namespace

void InstallMessagePresenter(MessagePresenter* presenter) {
    installed.store(presenter);
}

MessagePresenter* InstalledMessagePresenter() {
    return installed.load();
}

int PresentMessage(unsigned type, const WString& caption, const WString& text) {
    MessagePresenter* presenter = installed.load();
    return (presenter ? presenter : &defaultPresenter)->Present(type, caption, text);
}

void PostMessageBox(unsigned type, const WString& caption, const WString& text) {
    MessagePresenter* presenter = installed.load();
    (presenter ? presenter : &defaultPresenter)->Post(type, caption, text);
}

}  // namespace mirka
