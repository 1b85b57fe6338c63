#include "BrowserKeyPolicy.h"

#include <QEvent>
#include <QKeyEvent>
#include <QWebEngineView>

namespace qv::app {

bool BrowserKeyPolicy::Blocks(int key, Qt::KeyboardModifiers modifiers)
{
    return (key == Qt::Key_C || key == Qt::Key_F || key == Qt::Key_P) && modifiers.testFlag(Qt::ControlModifier);
}

BrowserKeyPolicy::BrowserKeyPolicy(QWebEngineView* view) : QObject(view), view_(view)
{
    view->installEventFilter(this);
}

void BrowserKeyPolicy::Apply(QWebEngineView* view)
{
    if (!view)
        return;
    view->setContextMenuPolicy(Qt::NoContextMenu);
    auto* policy = view->findChild<BrowserKeyPolicy*>(QString(), Qt::FindDirectChildrenOnly);
    if (!policy)
        policy = new BrowserKeyPolicy(view);
    policy->CoverInputWidget();
}

void BrowserKeyPolicy::CoverInputWidget()
{
    QWidget* input = view_ ? view_->focusProxy() : nullptr;
    if (!input || input == input_)
        return;
    input_ = input;
    input->setContextMenuPolicy(Qt::NoContextMenu);
    input->installEventFilter(this);
}

bool BrowserKeyPolicy::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == view_) {
        if (event->type() == QEvent::ChildAdded || event->type() == QEvent::ChildPolished)
            CoverInputWidget();
        return false;
    }
    if (event->type() != QEvent::KeyPress && event->type() != QEvent::ShortcutOverride)
        return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    return Blocks(key->key(), key->modifiers());
}

} // namespace qv::app
