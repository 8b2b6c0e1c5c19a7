#include "platform/notify.h"

#include <cstdio>

namespace v7 {

namespace {

class StderrNotifier final : public Notifier {
public:
    MsgResult notify(MsgIcon, const QString& text, MsgButtons buttons, const QString& title) override {
        std::fprintf(stderr, "%s%s%s\n", qPrintable(title), title.isEmpty() ? "" : ": ", qPrintable(text));
        return respuestaSinPersona(buttons);
    }
};

Notifier* g_replacement = nullptr;

} // namespace

MsgResult respuestaSinPersona(MsgButtons buttons) {
    switch (buttons) {
    case MsgButtons::Ok:
        return MsgResult::Ok;
    case MsgButtons::YesNo:
        return MsgResult::No;
    case MsgButtons::AbortRetryIgnore:
        return MsgResult::Abort;
    default:
        return MsgResult::Cancel;
    }
}

Notifier& notifier() {
    static StderrNotifier fallback;
    return g_replacement != nullptr ? *g_replacement : fallback;
}

void setNotifier(Notifier* replacement) {
    g_replacement = replacement;
}

} // namespace v7
