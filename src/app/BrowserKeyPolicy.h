#pragma once
#include <QObject>
#include <QPointer>

class QWebEngineView;

namespace qv::app {

// The desktop browser shows the project's pages, not a document to take
// away: it has no context menu, and Ctrl+C, Ctrl+F and Ctrl+P do nothing
// there. Every other key reaches the page.
class BrowserKeyPolicy final : public QObject {
    Q_OBJECT
public:
    // Whether `key` with `modifiers` is kept from the page.
    static bool Blocks(int key, Qt::KeyboardModifiers modifiers);
    // Puts the policy on `view`. Safe to call again after every navigation:
    // a renderer that was replaced brings a new input widget, which is
    // covered then.
    static void Apply(QWebEngineView* view);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    explicit BrowserKeyPolicy(QWebEngineView* view);
    void CoverInputWidget();

    QPointer<QWebEngineView> view_;
    QPointer<QWidget> input_;
};

} // namespace qv::app
