#include "FormKit.h"

#include "Artwork.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QToolButton>

#include <algorithm>

namespace qv::app {

namespace {

constexpr int kEditHeight = 21;
constexpr int kCheckHeight = 17;
constexpr int kBrowseSize = 23;

} // namespace

QFont FormFont()
{
    QFont font;
    font.setFamilies({QStringLiteral("Tahoma"), QStringLiteral("DejaVu Sans"), QStringLiteral("Sans Serif")});
    font.setPixelSize(11);
    return font;
}

QPushButton* FormButton(QWidget* parent, const char* name, const QString& caption, int x, int y, int width)
{
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setGeometry(x, y, width, 25);
    button->setAutoDefault(false);
    button->setDefault(false);
    return button;
}

FormColumn::FormColumn(QWidget* parent, int x, int y, int width)
{
    frames_.push_back({parent, nullptr, x, y, width});
}

QWidget* FormColumn::Place(QWidget* widget, const char* name, int height, int width, int gapAfter)
{
    Frame& f = frame();
    widget->setObjectName(QString::fromLatin1(name));
    widget->setGeometry(f.left(), f.top(), width < 0 ? f.span() : width, height);
    lastTop_ = f.top();
    if (f.inRow) {
        f.colY += height + gapAfter;
        f.rowBottom = std::max(f.rowBottom, f.colY);
    } else {
        f.y += height + gapAfter;
    }
    return widget;
}

QLabel* FormColumn::Text(const char* name, const QString& text, int gapAfter)
{
    auto* label = new QLabel(text, Parent());
    label->setWordWrap(true);
    label->setTextFormat(Qt::PlainText);
    label->setFont(Parent()->font());
    const int width = frame().span();
    const int height = QFontMetrics(label->font()).boundingRect(0, 0, width, 2000, Qt::TextWordWrap, text).height();
    Place(label, name, height + 1, width, gapAfter);
    return label;
}

QCheckBox* FormColumn::Check(const char* name, const QString& caption)
{
    auto* box = new QCheckBox(caption, Parent());
    Place(box, name, kCheckHeight, -1, 4);
    return box;
}

QRadioButton* FormColumn::Radio(const char* name, const QString& caption)
{
    auto* button = new QRadioButton(caption, Parent());
    Place(button, name, kCheckHeight, -1, 4);
    return button;
}

QComboBox* FormColumn::Combo(const char* name, const QStringList& items, int width)
{
    auto* combo = new QComboBox(Parent());
    combo->addItems(items);
    Place(combo, name, kEditHeight, width);
    return combo;
}

QLineEdit* FormColumn::Edit(const char* name, const QString& caption, const char* browseName, QToolButton** browse,
                            int width)
{
    const QString labelName = QString::fromLatin1(name) + QStringLiteral("Label");
    QLabel* label = Text(labelName.toLatin1().constData(), caption, 3);
    auto* edit = new QLineEdit(Parent());
    label->setBuddy(edit);
    const int full = frame().span();
    const int editWidth = width >= 0 ? width : browseName ? full - kBrowseSize - 4 : full;
    const int top = frame().top();
    const int left = frame().left();
    Place(edit, name, kEditHeight, editWidth);
    if (browseName) {
        auto* button = new QToolButton(Parent());
        button->setObjectName(QString::fromLatin1(browseName));
        button->setIcon(CommandPicture(Picture::Open));
        button->setAutoRaise(false);
        button->setGeometry(left + editWidth + 4, top - 1, kBrowseSize, kBrowseSize);
        if (browse)
            *browse = button;
    }
    return edit;
}

QDateEdit* FormColumn::Date(const char* name, int x, int width)
{
    auto* date = new QDateEdit(Parent());
    date->setObjectName(QString::fromLatin1(name));
    date->setCalendarPopup(true);
    date->setDisplayFormat(QStringLiteral("dd.MM.yyyy"));
    date->setGeometry(frame().x + x, lastTop_ - 2, width, kEditHeight);
    return date;
}

QGroupBox* FormColumn::BeginGroup(const char* name, const QString& title)
{
    auto* group = new QGroupBox(title, Parent());
    group->setObjectName(QString::fromLatin1(name));
    const Frame& outer = frame();
    group->setGeometry(outer.x, outer.y, outer.width, 40);
    frames_.push_back({group, group, 12, 20, outer.width - 24});
    return group;
}

void FormColumn::EndGroup()
{
    const Frame inner = frame();
    frames_.pop_back();
    QRect place = inner.group->geometry();
    place.setHeight(inner.y + 6);
    inner.group->setGeometry(place);
    frame().y += place.height() + 8;
}

void FormColumn::Column(int x, int width)
{
    Frame& f = frame();
    if (!f.inRow) {
        f.inRow = true;
        f.rowBottom = f.y;
    }
    f.colX = f.x + x;
    f.colY = f.y;
    f.colWidth = width;
}

void FormColumn::Row()
{
    Frame& f = frame();
    if (f.inRow)
        f.y = f.rowBottom;
    f.inRow = false;
}

} // namespace qv::app
