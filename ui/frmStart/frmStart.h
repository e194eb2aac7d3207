// The start window of the wizard.
#pragma once

#include <QWidget>

namespace tavrin::ui {

class frmStart : public QWidget {
    Q_OBJECT
public:
    explicit frmStart(QWidget* parent = nullptr);
};

}  // namespace tavrin::ui
