// SPDX-License-Identifier: MIT
#include "ui/decorative.h"

#include <QAccessibleWidget>
#include <QLabel>
#include <QWidget>

namespace {

const char *const kDecorative = "decorative";
int gFilters = 0;

bool isDecorative(const QObject *object)
{
    return object->property(kDecorative).toBool();
}

// A container as Qt shows it to readers, less its decorative children; asked
// each time, so that a child marked after the container was first seen is
// left out as well.
class PresentedContainer : public QAccessibleWidget
{
public:
    explicit PresentedContainer(QWidget *widget)
        : QAccessibleWidget(widget)
    {
    }

    int childCount() const override { return presented().size(); }

    QAccessibleInterface *child(int index) const override
    {
        const QWidgetList children = presented();
        if (index < 0 || index >= children.size())
            return nullptr;
        return QAccessible::queryAccessibleInterface(children.at(index));
    }

    int indexOfChild(const QAccessibleInterface *child) const override
    {
        if (!child || !child->object() || !child->object()->isWidgetType())
            return -1;
        return presented().indexOf(static_cast<QWidget *>(child->object()));
    }

private:
    QWidgetList presented() const
    {
        QWidgetList children;
        for (QObject *object : widget()->children()) {
            if (object->isWidgetType() && !static_cast<QWidget *>(object)->isWindow() && !isDecorative(object))
                children << static_cast<QWidget *>(object);
        }
        return children;
    }
};

// Called before Qt's own factory, for each class of the object from the most
// derived one up: only what Qt would show as a plain widget is taken.
QAccessibleInterface *presentedContainer(const QString &className, QObject *object)
{
    if (className != QLatin1String("QWidget") || !object || !object->isWidgetType())
        return nullptr;
    return new PresentedContainer(static_cast<QWidget *>(object));
}

} // namespace

void setDecorative(QWidget *widget)
{
    widget->setProperty(kDecorative, true);
}

void setAnnouncedText(QLabel *label, const QString &text)
{
    if (label->text() != text)
        label->setText(text);
}

DecorativeFilter::DecorativeFilter()
{
    if (gFilters++ == 0)
        QAccessible::installFactory(presentedContainer);
}

// Gone before the window's widgets are: Qt's own factory then takes care of
// widgets in their destructors.
DecorativeFilter::~DecorativeFilter()
{
    if (--gFilters == 0)
        QAccessible::removeFactory(presentedContainer);
}
