#pragma once

#include <QProxyStyle>

// Wraps the application's style and draws no focus rectangle, so the table's
// current cell is marked by the selection colours alone.
class Style_tweaks : public QProxyStyle
{
public:
    ~Style_tweaks() override;
    void drawPrimitive(PrimitiveElement element, const QStyleOption *option, QPainter *painter,
                       const QWidget *widget = nullptr) const override;
};
