// A small control of the program with a fixed face of 54 x 54 pixels (810
// twips): every resize sets it back to that size. No wizard window places
// one; the wizard's visual style comes from the platform's style.
#pragma once

#include <QWidget>

namespace tavrin::ui {

class XPStyle : public QWidget {
public:
    explicit XPStyle(QWidget* parent = nullptr);
    ~XPStyle() override;
    static constexpr int kSide = 54;

protected:
    void resizeEvent(QResizeEvent* e) override;
    void paintEvent(QPaintEvent* e) override;

private:
    void* shell32_ = nullptr;  // the module handle kept for the control's lifetime (Windows)
};

}  // namespace tavrin::ui
