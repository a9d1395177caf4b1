#pragma once

// AvDeleteCacheDir_Mac: the question asked when the program quits, whether
// the cache folder of unvaulted copies is to be emptied. exec() gives 1 for
// "Yes" and 0 for "No" or a closed window; dontShowAgain() tells whether the
// user wants the question no more.

#include "AvBaseDialog.h"

#include <memory>

namespace Ui {
class DeleteCacheDir_Mac;
}

class AvDeleteCacheDir_Mac : public AvBaseDialog
{
    Q_OBJECT

public:
    AvDeleteCacheDir_Mac();
    ~AvDeleteCacheDir_Mac() override;

    bool dontShowAgain() const;

private:
    std::unique_ptr<Ui::DeleteCacheDir_Mac> m_form;
};
