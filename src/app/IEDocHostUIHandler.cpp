#include "IEDocHostUIHandler.h"

#include <QEvent>
#include <QKeyEvent>
#include <QWebEngineView>

namespace qv::app {

const QUuid TDocHostUIHandler::IID_IDocHostUIHandler{"{BD3F23C0-D43E-11CF-893B-00AA00BDCE1A}"};
const QUuid TDocHostUIHandler::CLSID_DocHostUIHandler{"{3F2BBC05-40DF-11D2-9455-00104BC936FF}"};

HRESULT TDocHostUIHandler::TranslateAccelerator(const AcceleratorMessage& message) const
{
    if (message.message == WM_KEYDOWN &&
        (message.keyCode == 0x43 || message.keyCode == 0x46 || message.keyCode == 0x50))
        return message.controlDown ? S_OK : S_FALSE;
    return S_OK;
}

namespace {

// Puts the handler between the input widget and the renderer. Only the
// copy, find and print letters are asked about: the "handled" answer for
// every other key speaks of the browser's own accelerator table, which
// this browser does not have, and taking it literally would swallow all
// typing in the project's forms.
class HostFilter final : public QObject {
public:
    HostFilter(QWebEngineView* view, std::shared_ptr<TDocHostUIHandler> handler)
        : QObject(view), view_(view), handler_(std::move(handler))
    {
        view->installEventFilter(this);
    }

    void SetHandler(std::shared_ptr<TDocHostUIHandler> handler) { handler_ = std::move(handler); }

    void AttachInputWidget()
    {
        QWidget* input = view_ ? view_->focusProxy() : nullptr;
        if (!input || input == input_)
            return;
        input_ = input;
        input->setContextMenuPolicy(Qt::NoContextMenu);
        input->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == view_) {
            if (event->type() == QEvent::ChildAdded || event->type() == QEvent::ChildPolished)
                AttachInputWidget();
            return false;
        }
        if (event->type() != QEvent::KeyPress && event->type() != QEvent::ShortcutOverride)
            return false;
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() != Qt::Key_C && key->key() != Qt::Key_F && key->key() != Qt::Key_P)
            return false;
        AcceleratorMessage message;
        message.message = WM_KEYDOWN;
        message.keyCode = static_cast<uint32_t>(key->key());
        message.controlDown = key->modifiers().testFlag(Qt::ControlModifier);
        return handler_ && handler_->TranslateAccelerator(message) == S_OK;
    }

private:
    QPointer<QWebEngineView> view_;
    QPointer<QWidget> input_;
    std::shared_ptr<TDocHostUIHandler> handler_;
};

} // namespace

void SetUIHandler(QWebEngineView* view, std::shared_ptr<TDocHostUIHandler> handler)
{
    if (!view)
        return;
    view->setContextMenuPolicy(Qt::NoContextMenu);
    HostFilter* filter = nullptr;
    for (QObject* child : view->children())
        if (auto* f = dynamic_cast<HostFilter*>(child))
            filter = f;
    if (!filter)
        filter = new HostFilter(view, handler);
    else if (handler)
        filter->SetHandler(std::move(handler));
    filter->AttachInputWidget();
}

ComServer& ComServer::Instance()
{
    static ComServer server;
    return server;
}

void ComServer::Register(ComClassFactory factory)
{
    factories_.push_back(std::move(factory));
}

const ComClassFactory* ComServer::Find(const QUuid& classId) const
{
    for (const ComClassFactory& factory : factories_)
        if (factory.classId == classId)
            return &factory;
    return nullptr;
}

std::shared_ptr<TComObject> ComServer::CreateInstance(const QUuid& classId) const
{
    const ComClassFactory* factory = Find(classId);
    if (!factory || !factory->create)
        return nullptr;
    return factory->create();
}

namespace {

// Registered when the program starts, before any window exists.
const bool registered = [] {
    ComServer::Instance().Register({TDocHostUIHandler::CLSID_DocHostUIHandler, QStringLiteral("DocHostUIHandler"),
                                    QStringLiteral("Implements DocHostUIHandler"),
                                    ComClassFactory::Instancing::Multi, ComClassFactory::Threading::Single,
                                    [] { return std::make_shared<TDocHostUIHandler>(); }});
    return true;
}();

} // namespace

} // namespace qv::app
