#pragma once
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUuid>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class QMimeData;
class QWebEngineView;

namespace qv::app {

using HRESULT = int32_t;
constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr uint32_t WM_KEYDOWN = 0x0100;

// The key message the browser hands its host before it acts on a key.
struct AcceleratorMessage {
    uint32_t message = 0;  // WM_KEYDOWN for a key press
    uint32_t keyCode = 0;  // virtual-key code; the letters are their capitals
    bool controlDown = false;
};

// Base of the objects the class-factory registry makes.
class TComObject {
public:
    virtual ~TComObject() = default;
};

// The browser's host: no context menu, and Ctrl+C, Ctrl+F and Ctrl+P are
// taken away from it. It holds no state that changes its answers; the
// browser keeps it alive through shared ownership, so it stays valid after
// the main window lets go of it.
class TDocHostUIHandler final : public TComObject {
public:
    static const QUuid IID_IDocHostUIHandler; // {BD3F23C0-D43E-11CF-893B-00AA00BDCE1A}
    static const QUuid CLSID_DocHostUIHandler; // {3F2BBC05-40DF-11D2-9455-00104BC936FF}

    HRESULT ShowContextMenu() const { return S_OK; }
    HRESULT GetHostInfo() const { return S_FALSE; }
    HRESULT ShowUI() const { return S_FALSE; }
    HRESULT HideUI() const { return S_FALSE; }
    HRESULT UpdateUI() const { return S_FALSE; }
    HRESULT EnableModeless(bool) const { return S_FALSE; }
    HRESULT OnDocWindowActivate(bool) const { return S_FALSE; }
    HRESULT OnFrameWindowActivate(bool) const { return S_FALSE; }
    HRESULT ResizeBorder() const { return S_FALSE; }
    HRESULT TranslateAccelerator(const AcceleratorMessage& message) const;
    HRESULT GetOptionKeyPath(QString& /*key: left untouched*/) const { return S_FALSE; }
    HRESULT GetDropTarget(QObject*& target) const { target = nullptr; return S_FALSE; }
    HRESULT GetExternal(QObject*& dispatch) const { dispatch = nullptr; return S_FALSE; }
    HRESULT TranslateUrl(QString& /*url: left untouched*/) const { return S_FALSE; }
    HRESULT FilterDataObject(QMimeData*& data) const { data = nullptr; return S_FALSE; }
};

// The "SetUIHandler" of this platform: makes `view` and the widget that
// takes its input answer as `handler` says. Safe to call again after every
// navigation; a renderer that was replaced brings a new input widget,
// which is attached then.
void SetUIHandler(QWebEngineView* view, std::shared_ptr<TDocHostUIHandler> handler);

// The program's own class-factory registry.
struct ComClassFactory {
    enum class Instancing { Single, Multi };
    enum class Threading { Single, Apartment };
    QUuid classId;
    QString className;
    QString description;
    Instancing instancing = Instancing::Multi;
    Threading threading = Threading::Single;
    std::function<std::shared_ptr<TComObject>()> create;
};

class ComServer {
public:
    static ComServer& Instance();
    void Register(ComClassFactory factory);
    const ComClassFactory* Find(const QUuid& classId) const;
    // A new object per call; nullptr for an unknown class.
    std::shared_ptr<TComObject> CreateInstance(const QUuid& classId) const;

private:
    std::vector<ComClassFactory> factories_;
};

} // namespace qv::app
