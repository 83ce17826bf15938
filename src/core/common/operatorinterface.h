#pragma once
// Everything the operator must be told or asked leaves the core through this interface.
// The window implements it with message boxes and the please-wait window, the command
// line with standard error and options, the tests with a recorder.
#include <QString>
#include <QtGlobal>

#include <optional>

namespace velomark {

// Title of most message boxes.
inline const QString kMessageTitle = QStringLiteral("Veltrazon Data Logger");
// Title of the message boxes that name the application (the version resource's ProductName).
QString applicationTitle();

class OperatorInterface
{
public:
    virtual ~OperatorInterface() = default;

    // Information box with the single button Ok.
    virtual void inform(const QString &title, const QString &text) = 0;
    // Question with Yes and No, no default button; true for Yes.
    virtual bool ask(const QString &title, const QString &text) = 0;
    // File dialogs; an empty result means cancelled.
    virtual QString chooseSaveFile(const QString &caption, const QString &startDir,
                                   const QString &filter, bool confirmOverwrite) = 0;
    virtual QString chooseOpenFile(const QString &caption, const QString &startDir,
                                   const QString &filter) = 0;

    // The please-wait window: set the message, open, let pending events run once.
    virtual void showWait(const QString &text) = 0;
    // Changes the message of the open please-wait window.
    virtual void setWaitText(const QString &text) = 0;
    // Closes the please-wait window (done with Accepted); harmless when it is closed.
    virtual void closeWait() = 0;
    // A link that takes long to make (Bluetooth paging a lidar): the please-wait text says so.
    virtual void showConnecting(const QString &text) { setWaitText(text); }
    // A password or PIN, not shown while typed; nothing when the operator cancels. Without a
    // way to ask, nothing.
    virtual std::optional<QString> askSecret(const QString &title, const QString &text)
    {
        Q_UNUSED(title) Q_UNUSED(text)
        return std::nullopt;
    }
    // How much of a long transfer has arrived; shown beside the wait text.
    virtual void waitProgress(qint64 bytes, qint64 lines) { Q_UNUSED(bytes) Q_UNUSED(lines) }
};

// Tells nothing and answers No: for work whose messages are nobody's business, such as a
// look-up whose failure only means "not found".
class SilentOperator : public OperatorInterface
{
public:
    void inform(const QString &, const QString &) override {}
    bool ask(const QString &, const QString &) override { return false; }
    QString chooseSaveFile(const QString &, const QString &, const QString &, bool) override { return {}; }
    QString chooseOpenFile(const QString &, const QString &, const QString &) override { return {}; }
    void showWait(const QString &) override {}
    void setWaitText(const QString &) override {}
    void closeWait() override {}
};

}  // namespace velomark
