#include "forms/FormKit.h"

#include "forms/Artwork.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStyleOptionButton>
#include <QStylePainter>
#include <QToolButton>

#include <algorithm>
#include <type_traits>

namespace qv::app {

namespace {

constexpr int kEditHeight = 21;
constexpr int kCheckHeight = 17;
constexpr int kBrowseSize = 23;

// A check box or radio button whose caption wraps onto more lines when the
// desktop's font is wider than the one the form was laid out for.
template <class Base> class Wrapping final : public Base {
public:
    using Base::Base;

    // The height the caption needs at `width`.
    int HeightFor(int width) const
    {
        const int text = width - IndicatorSpace();
        const QRect r = this->fontMetrics().boundingRect(0, 0, std::max(text, 1), 2000, Qt::TextWordWrap,
                                                         this->text());
        return std::max(kCheckHeight, r.height() + 2);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QStylePainter painter(this);
        QStyleOptionButton option;
        this->initStyleOption(&option);
        const QString caption = option.text;
        option.text.clear();
        // The indicator level with the first line.
        QStyleOptionButton indicator = option;
        indicator.rect.setHeight(kCheckHeight);
        painter.drawControl(kIsRadio ? QStyle::CE_RadioButton : QStyle::CE_CheckBox, indicator);
        // The first line centred on the indicator.
        const int lift = std::max(0, (kCheckHeight - this->fontMetrics().height()) / 2);
        QRect text = option.rect.adjusted(IndicatorSpace(), lift, 0, 0);
        painter.setPen(this->palette().color(this->isEnabled() ? QPalette::Active : QPalette::Disabled,
                                             QPalette::WindowText));
        painter.drawText(text, Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap | Qt::TextShowMnemonic, caption);
    }

private:
    static constexpr bool kIsRadio = std::is_same_v<Base, QRadioButton>;
    int IndicatorSpace() const
    {
        const QStyle* s = this->style();
        return kIsRadio ? s->pixelMetric(QStyle::PM_ExclusiveIndicatorWidth, nullptr, this) +
                              s->pixelMetric(QStyle::PM_RadioButtonLabelSpacing, nullptr, this)
                        : s->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, this) +
                              s->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, nullptr, this);
    }
};

} // namespace

QFont FormFont()
{
    QFont font;
    // Liberation Sans keeps Arial's widths, close to Tahoma's; the captions
    // were measured for those.
    font.setFamilies({QStringLiteral("Tahoma"), QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")});
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
    auto* box = new Wrapping<QCheckBox>(caption, Parent());
    box->setFont(Parent()->font());
    Place(box, name, box->HeightFor(frame().span()), -1, 4);
    return box;
}

QRadioButton* FormColumn::Radio(const char* name, const QString& caption)
{
    auto* button = new Wrapping<QRadioButton>(caption, Parent());
    button->setFont(Parent()->font());
    Place(button, name, button->HeightFor(frame().span()), -1, 4);
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
