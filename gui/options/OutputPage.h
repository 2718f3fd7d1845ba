#pragma once
// "General": output folder, existing targets, stereo-to-mono rule, extension filter, simultaneous conversions.

#include <string>

#include "gui/options/OptionsPage.h"

class QLabel;
class QSpinBox;

namespace pelloran {

class OutputPage : public OptionsPage {
public:
    OutputPage(const ConvertSettings& settings, OptionsHooks& hooks, QWidget* parent = nullptr);

    QString TabText() const override { return QStringLiteral("General"); }
    void CopyBack(ConvertSettings& settings) const override;

    // Removes spaces and tabs and turns ';' into ','.
    static QString NormaliseExtensions(const QString& text);

    QButtonGroup* monoGroup = nullptr;
    QPushButton* monoHelp = nullptr;
    QCheckBox* filterBox = nullptr;
    QLineEdit* filterEdit = nullptr;
    QComboBox* folderList = nullptr;
    QLineEdit* folderEdit = nullptr;
    QPushButton* browseButton = nullptr;
    QPushButton* openButton = nullptr;
    QCheckBox* createDirsBox = nullptr;
    QLabel* exampleText = nullptr;
    QComboBox* existsList = nullptr;
    QCheckBox* myDocumentsBox = nullptr;
    QCheckBox* browseOutputBox = nullptr;
    QSpinBox* jobsSpin = nullptr;
    QCheckBox* verifyBox = nullptr;
    QLineEdit* patternEdit = nullptr;
    QLabel* patternExample = nullptr;  // the name a tagged sample would get, as the pattern is typed

protected:
    void Initialise() override;
    bool ReadControls(PageRefusal* refusal) override;
    void ShowMembers() override;
    bool Validate(PageRefusal& refusal) override;

private:
    void UpdateFolderEnabled();
    void Browse();
    void ShowPatternExample();
    void OpenFolder();

    int32_t destOutputFolderOpt_;
    std::string destSpecifiedFolder_;
    int32_t createDirs_;
    int32_t browseOutputFolder_;
    int32_t monoType_;
    int32_t outputFiles2MyDocuments_;
    std::string filterExts_;
    int32_t enableExtFilter_;
    int32_t targetExistsOpt_;
    int32_t parallelJobs_;
    int32_t verifyOutput_;
    std::string outputNamePattern_;
};

}  // namespace pelloran
