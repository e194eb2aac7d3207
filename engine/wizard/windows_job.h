// The engine's view of the wizard's choices, for either front end. It reads
// the controls of the windows when the engine asks; nothing is copied
// earlier. Rows are numbered from 1 here, from 0 in the list.
//
// `Windows` is the front end's wizard: start(), singleIfCreated() and
// multipleIfCreated(), whose windows answer optSingle(), sourceMailbox() and
// the list's rows and output folder.
#pragma once

#include <string>

#include "engine/host.h"

namespace tavrin::wizard {

template <class Windows>
class WindowsJob : public engine::JobView {
public:
    explicit WindowsJob(Windows& w) : w_(w) {}
    bool optSingle() const override { return w_.start().optSingle(); }
    std::string sourceMailbox() const override {
        return w_.singleIfCreated() ? w_.singleIfCreated()->sourceMailbox() : std::string();
    }
    int rowCount() const override { return list() ? list()->rowCount() : 0; }
    bool rowChecked(int row) const override { return valid(row) && list()->rowChecked(row - 1); }
    std::string rowText(int row) const override { return valid(row) ? list()->rowText(row - 1) : std::string(); }
    std::string rowSubItemText(int row) const override {
        return valid(row) ? list()->rowSubItemText(row - 1) : std::string();
    }
    void setRowForeColor(int row, int red, int green, int blue) override {
        if (valid(row)) list()->setRowForeColor(row - 1, red, green, blue);
    }
    void setRowBold(int row, bool bold) override {
        if (valid(row)) list()->setRowBold(row - 1, bold);
    }
    std::string outputFolder() const override { return list() ? list()->outputFolder() : std::string(); }

private:
    auto* list() const { return w_.multipleIfCreated(); }
    bool valid(int row) const { return list() && row >= 1 && row <= list()->rowCount(); }
    Windows& w_;
};

}  // namespace tavrin::wizard
