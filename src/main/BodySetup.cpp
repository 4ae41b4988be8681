// Setup files of the main window: every setting as one command line, read back through the
// batch-command executor.
#include "Body.h"
#include "Places.h"

#include "CtFilter.h"
#include "Failures.h"
#include "ProcCtrl.h"
#include "TextUtil.h"
#include "WholeFile.h"

#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QTextStream>

namespace {

constexpr int KeyWidth = 25;

// A keyword as wide as the column still needs a blank before its value.
QString keyText(const QString &key)
{
    return key.size() >= KeyWidth ? key + u' ' : padRight(key, KeyWidth);
}

// A value with a blank would come back as several arguments and one with "#" would lose its
// tail as a comment; quoted, both come back whole. Other values are written as they stand.
QString textValue(const QString &v)
{
    for (QChar c : v) {
        if (isBlankChar(c) || c == u'#')
            return u'"' + v + u'"';
    }
    return v;
}

// "folder *.suffix" of the first listed file, the form the file-listing commands take.
QString folderAndSuffix(const QString &file)
{
    // An image of a stack or an HDF5 file ("FILE#3") names its file's folder and suffix.
    const QFileInfo fi(QFileInfo::exists(file) ? file : file.section(u'#', 0, 0));
    return QString("%1 *.%2").arg(textValue(fi.absolutePath()), fi.suffix());
}

double numberOf(const QLineEdit *edit)
{
    bool ok = false;
    const double v = edit->text().toDouble(&ok);
    return ok ? v : 0.0;
}

// Writes "keyword value" lines; numbers go through the stream, so they take its default
// form (six significant digits, the shorter of fixed and scientific).
class SetupWriter
{
public:
    explicit SetupWriter(QTextStream &out)
        : out(out)
    { }
    void section(const char *title) { out << '\n' << title << "\n\n"; }
    template <typename T> void row(const QString &key, const T &value)
    {
        out << keyText(key) << value << '\n';
    }
    void flag(const QString &key, bool f) { row(key, f ? 1 : 0); }
    void text(const QString &key, const QString &v) { row(key, textValue(v)); }
    void pair(const QString &key, int slice, double cor)
    {
        out << keyText(key) << slice << ' ' << cor << '\n';
    }

private:
    QTextStream &out;
};

} // namespace

void Body::showSaveSetupD()
{
    savingSetup = true;
    setupDialog->setAcceptMode(QFileDialog::AcceptSave);
    setupDialog->setFileMode(QFileDialog::AnyFile);
    setupDialog->setDirectory(Places::dialogFolder("setup", setupDialog->directory().path()));
    setupDialog->show();
}

void Body::showLoadSetupD()
{
    savingSetup = false;
    setupDialog->setAcceptMode(QFileDialog::AcceptOpen);
    setupDialog->setFileMode(QFileDialog::ExistingFile);
    setupDialog->setDirectory(Places::dialogFolder("setup", setupDialog->directory().path()));
    setupDialog->show();
}

void Body::saveLoadFileSelected(QString fname)
{
    Places::rememberDialogFolder("setup", fname);
    if (savingSetup)
        saveSetup(fname);
    else
        loadSetup(fname);
}

void Body::saveSetup(QString fname)
{
    // Composed in memory, then written beside the target and renamed over it: a crash or a
    // full disk never leaves half a setup in place of the previous one.
    QByteArray text;
    QTextStream out(&text, QIODevice::WriteOnly);
    SetupWriter w(out);
    out << "### Vexa2 setup saving setup file\n";

    w.section("## Original Images");
    const QStringList ctFiles = CTFiles->files();
    if (!ctFiles.isEmpty())
        w.row(QString("#%1").arg("images_load"), folderAndSuffix(ctFiles.first()));
    w.flag("images_new_on_load", CTFiles->loadNewFiles());
    w.flag("images_keep_setup", CTFiles->keepConditions());
    out << keyText("images_multi") << (CTFiles->loadMultiTimes() ? 1 : 0) << ' '
        << CTFiles->multiTimes() << '\n';
    w.row("images_seek", seekCtrl->index());
    w.text("i0_load", I0ImgSel->filePath());
    w.text("bg_load", BGImgSel->filePath());

    w.section("## CT Reconstruction setting");
    w.row("ct_proc_slice", procCtrl->slice());
    w.row("ct_angle_origin", procCtrl->angleOriginDeg());
    w.row("ct_dataset_range", procCtrl->dataSetRangeDeg());
    w.flag("ct_use_partial_data_set", procCtrl->usePartialDataSet());
    w.row("ct_dataset_using_images", procCtrl->dataSetUsingImages());
    w.row("ct_dataset_start_image_no", procCtrl->dataSetStartImageNo());
    w.flag("ct_auto_exec", procCtrl->autoExecCtCalc());
    w.row("ct_slice_from", procCtrl->sliceFrom());
    w.row("ct_slice_to", procCtrl->sliceTo());
    w.row("ct_slice_step", procCtrl->sliceStep());
    w.row("ct_threads", procCtrl->threads());
    w.row("ct_filter", CtFilter::name(procCtrl->filter()));
    w.row("ct_method", CtMethods::name(procCtrl->method()));
    w.row("ct_ring_removal", QString::number(procCtrl->ringRemoval()));
    w.row("ct_cor", procCtrl->cor());
    w.flag("ct_rot_ax_is_h", !procCtrl->rotAxIsV());
    w.pair("ct_recorded_cor_1", procCtrl->recSlice1(), procCtrl->recCor1());
    w.pair("ct_recorded_cor_2", procCtrl->recSlice2(), procCtrl->recCor2());

    w.section("## CT Reconstruction calculation");
    w.flag("calc_ct1", SelectCt1->isChecked());
    w.flag("calc_show_res", ShowCalcRes->isChecked());
    w.flag("fix_color_scale", FixColorScale->isChecked());
    w.row("fix_color_min", colorMin());
    w.row("fix_color_max", colorMax());
    w.flag("auto_save_image", AutoSaveImage->isChecked());
    w.text("auto_save_image_path", SelectImageSaveDir->filePath());
    w.text("auto_save_image_name", SelectImageSaveDir->name());
    w.text("auto_save_image_tag", SelectImageSaveDir->addTag());
    w.flag("auto_save_data", AutoSaveData->isChecked());
    w.flag("auto_save_tiff", AutoSaveTiff->isChecked());
    w.flag("auto_save_tiff_compress", AutoSaveTiffCompress->isChecked());
    w.text("auto_save_data_path", SelectDataSaveDir->filePath());
    w.text("auto_save_data_name", SelectDataSaveDir->name());
    w.text("auto_save_data_tag", SelectDataSaveDir->addTag());
    w.row("auto_save_data_upper_limit", numberOf(DataUpperLimit));
    w.row("auto_save_data_lower_limit", numberOf(DataLowerLimit));
    w.row("auto_save_data_offset", numberOf(DataOffset));
    w.flag("auto_save_in_sub_folders", SaveInSubFolders->isChecked());
    w.flag("auto_save_in_sub_folders_of_energy", SubOfEnergy->isChecked());

    w.section("## Additional Settings for CT-XAFS");
    w.flag("add_inf_show", ShowAdditionalInfo->isChecked());
    w.flag("add_inf_ZBX_standard", SelDDir->isZBXStandard());
    w.text("seq_exec_dir", SelDDir->dataDir());
    w.text("seq_exec_file_pattern", SelDDir->pattern());
    const QStringList i0Files = SelI0Files->files();
    if (!i0Files.isEmpty())
        w.row("seq_exec_select_i0", folderAndSuffix(i0Files.first()));
    w.flag("seq_exec_keep_range_on_new_set", keepOnNewSet->isChecked());
    w.flag("seq_cor_per_energy", SeqCorPerEnergy->isChecked());
    w.flag("seq_align", SeqAlign->isChecked());

    out.flush();
    if (!writeWholeFile(fname, text)) {
        logLine("can't open save setup file : ", fname);
        recordFailure(Failures::FileWrite, "Cannot write the file " + fname);
    }
}

void Body::loadSetup(QString fname)
{
    QFile file(fname);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        logLine("can't open save setup file : ", fname);
        return;
    }
    QTextStream in(&file);
    QString line;
    // Lines are carried out in file order: the slice, last slice and CoR lines clear the reset
    // flags, and the slice-range box comes before the CT1/CT2 choice. None of them reports to
    // the batch interpreter, so a batch running meanwhile is not moved on by a setup.
    int lineNo = 0;
    while (in.readLineInto(&line)) {
        BatchCmd cmd(removeComment(line));
        cmd.file = fname;
        cmd.lineNo = ++lineNo;
        execCmd(cmd, false);
    }
}
