// The batch-command executor of the main window: every command sets a control as the user
// would, so the window always shows the state a batch, a setup file or the configuration
// file produced.
#include "Body.h"

#include "Batch.h"
#include "CtFilter.h"
#include "CtView.h"
#include "DxchangeFile.h"
#include "Failures.h"
#include "FolderLayout.h"
#include "PopDockBase.h"
#include "RingRemoval.h"
#include "SliceDatas.h"
#include "SlicesCtrl.h"
#include "SpectrumView.h"
#include "TextUtil.h"
#include "ThetaUnits.h"
#include "VolumeFile.h"

#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QRadioButton>
#include <QSpinBox>

#include <algorithm>
#include <cmath>

namespace {

// A flag is set exactly when its argument reads as the integer 1.
bool flagOf(const BatchCmd &cmd)
{
    return cmd.argInt(0) == 1;
}

// The tab that holds `container`, wherever tabs inserted before it have pushed it; -1 when
// none does.
int pageOf(const QTabWidget *tabs, const QWidget *container)
{
    for (int i = 0; i < tabs->count(); ++i) {
        const QWidget *page = tabs->widget(i);
        if (page == container || page->isAncestorOf(container))
            return i;
    }
    return -1;
}

void showPageOf(QTabWidget *tabs, const QWidget *container)
{
    const int page = container ? pageOf(tabs, container) : -1;
    if (page >= 0)
        tabs->setCurrentIndex(page);
}

// The arguments of a command that must be numbers, one letter per argument: 'i' a whole
// number (flags too), 'n' any number.
const QHash<QString, QString> &numericArgs()
{
    static const QHash<QString, QString> table = [] {
        QHash<QString, QString> t;
        for (const char *flag : { "images_new_on_load", "images_add_on_load", "images_keep_setup",
                 "ct_auto_exec", "ct_rot_ax_is_h", "ct_rot_ax_is_v", "ct_use_partial_data_set",
                 "calc_ct1", "calc_ct2", "calc_show_res", "fix_color_scale", "auto_save_image",
                 "auto_save_data", "auto_save_in_sub_folders", "auto_save_in_sub_folders_of_slice",
                 "auto_save_in_sub_folders_of_energy", "add_inf_show", "add_inf_zbx_standard",
                 "add_inf_raw_i0_from_xafs", "add_inf_i0_i0_from_xafs", "quoltlink_set_send_msg",
                 "seq_exec_show", "seq_exec_keep_range_on_new_set", "images_seek", "ct_proc_slice",
                 "ct_slice_from", "ct_slice_to", "ct_slice_step", "ct_threads",
                 "ct_dataset_using_images", "ct_dataset_start_image_no", "show_tab", "show_ct2",
                 "ct_ring_removal", "seq_cor_per_energy", "seq_align" })
            t.insert(QString::fromLatin1(flag), "i");
        for (const char *number : { "images_exp_time", "i0_exp_time", "bg_exp_time", "ct_cor",
                 "ct_angle_offset", "ct_angle_origin", "ct_dataset_range", "fix_color_min",
                 "fix_color_max", "add_inf_raw_i0_val", "add_inf_i0_i0_val" })
            t.insert(QString::fromLatin1(number), "n");
        t.insert("images_multi", "ii");
        t.insert("ct_recorded_cor_1", "in");
        t.insert("ct_recorded_cor_2", "in");
        t.insert("ct_set_disp_region", "nnnn");
        t.insert("ct_set_calc_region", "nnnn");
        t.insert("ct_cor_sweep", "nnn");
        return t;
    }();
    return table;
}

bool isWholeNumber(const QString &text)
{
    bool ok = false;
    text.toInt(&ok, 10);
    return ok;
}

bool isNumber(const QString &text)
{
    bool ok = false;
    const double v = text.toDouble(&ok);
    return ok && std::isfinite(v);
}

// " at line 12 of job.bat" for a line of a file, else the line itself.
QString placeOf(const BatchCmd &cmd)
{
    if (cmd.lineNo > 0)
        return QString(" at line %1 of %2").arg(cmd.lineNo).arg(cmd.file);
    return QString(" in '%1'").arg(cmd.line.trimmed());
}

// The message about the first argument that should be a number and is not; empty when every
// argument is fine. The value is then left as it is: 0 would be a plainly wrong setting.
QString numberMistake(const BatchCmd &cmd)
{
    const auto it = numericArgs().constFind(cmd.cmd.toLower());
    if (it == numericArgs().constEnd())
        return QString();
    const QString &kinds = it.value();
    for (int i = 0; i < kinds.size(); ++i) {
        if (i >= cmd.argCount())
            return QString("Missing number%1 (%2): the value stays unchanged")
                .arg(placeOf(cmd), cmd.cmd);
        const QString text = cmd.arg(i);
        if (kinds.at(i) == u'i' ? !isWholeNumber(text) : !isNumber(text))
            return QString("Not a number '%1'%2 (%3): the value stays unchanged")
                .arg(text, placeOf(cmd), cmd.cmd);
    }
    return QString();
}

} // namespace

void Body::batchExCmd(BatchCmd cmd)
{
    execCmd(cmd, true);
}

void Body::execCmd(const BatchCmd &cmd, bool fromBatch)
{
    // A command whose work goes on after this returns reports its completion itself.
    bool held = false;
    auto is = [&cmd](const char *keyword) { return cmd.is(QString::fromLatin1(keyword)); };
    const bool flag = flagOf(cmd);
    const QString text = cmd.arg(0);
    const double number = cmd.argDouble(0);

    // Holds a batch until the load it asked for has read its last file: a following
    // "calc_exec" must not reconstruct a half-loaded set.
    auto holdUntilLoaded = [this, fromBatch, &held] {
        if (!fromBatch)
            return;
        held = true;
        connect(
            this, &Body::finishedLoadingCTFiles, this, [this] { emit callBatchCheckEnd(); },
            Qt::SingleShotConnection);
    };
    // The I0 and BG readers are read by the workers during their slices: they are replaced
    // only when no worker is at work, and the batch waits for that.
    auto whenIdle = [this, fromBatch, &held](std::function<void()> action) {
        held = fromBatch;
        whenWorkersIdle([this, fromBatch, action = std::move(action)] {
            action();
            if (fromBatch)
                emit callBatchCheckEnd();
        });
    };

    const QString mistake = numberMistake(cmd);
    if (!mistake.isEmpty()) {
        recordFailure(Failures::Command, mistake);
        if (fromBatch)
            emit callBatchCheckEnd(); // commands go on after a mistake
        return;
    }

    // ---- projection images
    if (is("images_load")) {
        if (text.isEmpty()) {
            // Without a folder the listing would be the working directory's.
            recordFailure(Failures::Command, "images_load needs a folder: " + cmd.line);
        } else {
            const QStringList patterns = cmd.args.mid(1);
            if (!QFileInfo(text).isDir())
                recordFailure(Failures::Load, "images_load: no such folder " + text);
            else if (QDir(text).entryList(patterns, QDir::Files).isEmpty())
                recordFailure(Failures::Load,
                    QString("images_load: no file in %1 matches %2")
                        .arg(text, patterns.isEmpty() ? QString("*") : patterns.join(' ')));
            // Loaded all the same: the set then holds nothing, and a run that follows does not
            // reconstruct the previous set again under this one's name.
            holdUntilLoaded();
            loadByCommand = true;
            CTFiles->loadFromDir(text, patterns);
            loadByCommand = false;
        }
    } else if (is("images_load_hdf5")) {
        DxchangeFile::Info info;
        QString error;
        if (!DxchangeFile::isHdf5(text)) {
            DxchangeFile::inspect(text, info, &error); // says why, naming the file
            recordFailure(Failures::Load, error);
        } else {
            holdUntilLoaded();
            loadByCommand = true;
            CTFiles->handleChosenFiles({ text });
            loadByCommand = false;
        }
    } else if (is("images_theta_units")) {
        // Applies to the HDF5 files loaded after it; an empty argument restores the files'
        // own units.
        if (ThetaUnits::validChoice(text))
            CTFiles->thetaUnits = text;
        else
            recordFailure(Failures::Command,
                QString("images_theta_units takes rad or deg, not \"%1\"%2")
                    .arg(text, placeOf(cmd)));
    } else if (is("images_nx_entry")) {
        CTFiles->nxEntry = text;
    } else if (is("images_flat_names") || is("images_dark_names")) {
        // Name beginnings separated by commas, for the folders loaded after it; no argument
        // restores the usual names.
        const bool flats = is("images_flat_names");
        QStringList names = cmd.args.join(u',').split(u',', Qt::SkipEmptyParts);
        for (QString &n : names)
            n = n.trimmed();
        names.removeAll(QString());
        if (names.isEmpty())
            names = flats ? FolderLayout::defaultFlatNames() : FolderLayout::defaultDarkNames();
        (flats ? CTFiles->flatNames : CTFiles->darkNames) = names;
    } else if (is("images_new_on_load")) {
        CTFiles->setLoadNewFiles(flag);
    } else if (is("images_add_on_load")) {
        CTFiles->setLoadNewFiles(!flag);
    } else if (is("images_clear")) {
        CTFiles->clearFiles();
    } else if (is("images_exp_time")) {
        CTFiles->setExpTime(number);
    } else if (is("images_multi")) {
        CTFiles->setLoadMultiTimes(flag);
        CTFiles->setMultiTimes(cmd.argInt(1));
    } else if (is("images_seek")) {
        seekCtrl->setIndex(std::max(0, cmd.argInt(0))); // the control clamps to its maximum
    } else if (is("images_keep_setup")) {
        CTFiles->setKeepConditions(flag);

        // ---- I0 and BG images
    } else if (is("i0_load")) {
        // An empty name (a setup saved without I0) means no I0 image, not the previous one.
        whenIdle(
            [this, text] { text.isEmpty() ? I0ImgSel->clear0() : I0ImgSel->fileSelected0(text); });
    } else if (is("i0_clear")) {
        whenIdle([this] { I0ImgSel->clear0(); });
    } else if (is("i0_exp_time")) {
        I0ImgSel->setExpTime(number);
    } else if (is("bg_load")) {
        whenIdle(
            [this, text] { text.isEmpty() ? BGImgSel->clear0() : BGImgSel->fileSelected0(text); });
    } else if (is("bg_clear")) {
        whenIdle([this] { BGImgSel->clear0(); });
    } else if (is("bg_exp_time")) {
        BGImgSel->setExpTime(number);

        // ---- process control
    } else if (is("ct_proc_slice")) {
        setProcSlice(cmd.argInt(0));
    } else if (is("ct_auto_exec")) {
        // Its toggle selects CT2 (changedAutoExec), as a click would.
        if (auto *box = procCtrl->findChild<QCheckBox *>("AutoExecCtCalc"))
            box->setChecked(flag);
    } else if (is("ct_slice_from")) {
        setProcSliceFrom(cmd.argInt(0));
    } else if (is("ct_slice_to")) {
        setProcSliceTo(cmd.argInt(0));
    } else if (is("ct_slice_step")) {
        procCtrl->setSliceStep(cmd.argInt(0));
    } else if (is("ct_threads")) {
        if (auto *threads = procCtrl->findChild<QSpinBox *>("Threads"))
            threads->setValue(cmd.argInt(0)); // the spin box keeps it within its range
    } else if (is("ct_filter")) {
        if (!procCtrl->setFilter(text))
            recordFailure(Failures::Command,
                QString("Unknown filter \"%1\" (known: %2) in : %3")
                    .arg(text, CtFilter::names().join(' '), cmd.line));
    } else if (is("ct_ring_removal")) {
        const int level = cmd.argInt(0);
        if (level < 0 || level > RingRemoval::maxLevel)
            recordFailure(Failures::Command,
                QString("ct_ring_removal needs a level from 0 to %1%2: the value stays unchanged")
                    .arg(RingRemoval::maxLevel)
                    .arg(placeOf(cmd)));
        else
            procCtrl->setRingRemoval(level);
    } else if (is("ct_method")) {
        CtMethod method = CtMethod::Fbp;
        if (CtMethods::fromName(text, &method))
            procCtrl->setMethod(method);
        else
            recordFailure(
                Failures::Command, "ct_method needs " + CtMethods::choiceText() + ": " + cmd.line);
    } else if (is("ct_cor")) {
        setProcCor(number);
    } else if (is("ct_cor_sweep")) {
        if (cmd.argCount() < 4 || cmd.arg(3).isEmpty())
            recordFailure(Failures::Command,
                QString("ct_cor_sweep needs FROM TO STEP FOLDER%1").arg(placeOf(cmd)));
        else if (corSweepRun(
                     cmd.argDouble(0), cmd.argDouble(1), cmd.argDouble(2), cmd.arg(3), fromBatch))
            held = fromBatch; // the batch goes on at the sweep's end (corSweepEnded)
        else if (fromBatch)
            batch->lastOk = false;
    } else if (is("ct_recorded_cor_1")) {
        procCtrl->setRecord1(cmd.argInt(0), cmd.argDouble(1));
    } else if (is("ct_recorded_cor_2")) {
        procCtrl->setRecord2(cmd.argInt(0), cmd.argDouble(1));
    } else if (is("ct_rot_ax_is_h") || is("ct_rot_ax_is_v")) {
        const bool vertical = is("ct_rot_ax_is_v") ? flag : !flag;
        // A click on the radio button: the panel signals the axis only when it changes.
        if (auto *b = procCtrl->findChild<QRadioButton *>(vertical ? "RotAxV" : "RotAxH")) {
            axisByCommand = true;
            b->click();
            axisByCommand = false;
        }
    } else if (is("ct_angle_offset") || is("ct_angle_origin")) {
        procCtrl->setAngleOriginDeg(number);
    } else if (is("ct_use_partial_data_set")) {
        procCtrl->setUsePartialDataSet(flag);
    } else if (is("ct_dataset_range")) {
        procCtrl->setDataSetRangeDeg(number);
    } else if (is("ct_dataset_using_images")) {
        procCtrl->setDataSetUsingImages(cmd.argInt(0));
    } else if (is("ct_dataset_start_image_no")) {
        procCtrl->setDataSetStartImageNo(cmd.argInt(0));
    } else if (is("ct_set_disp_region") || is("ct_set_calc_region")) {
        relayRegion(is("ct_set_disp_region"), nullptr, cmd.argDouble(0), cmd.argDouble(1),
            cmd.argDouble(2), cmd.argDouble(3));
        resetRegions = false; // like the CoR, kept through the next load

        // ---- reconstruction and its results
    } else if (is("calc_ct1")) {
        if (flag)
            SelectCt1->setChecked(true);
    } else if (is("calc_ct2")) {
        if (flag)
            SelectCt2->setChecked(true);
    } else if (is("calc_show_res")) {
        ShowCalcRes->setChecked(flag);
    } else if (is("fix_color_scale")) {
        setFixColorScale(flag);
    } else if (is("fix_color_min") || is("fix_color_max")) {
        is("fix_color_min") ? setColorMin(number) : setColorMax(number);
        // As leaving the field would: a fixed scale takes the new limit at once (setup files
        // fix the scale before they give its limits).
        fixColorScaleChanged();
    } else if (is("auto_save_volume")) {
        // Checked at once, so a misspelt name does not cost a whole run.
        VolumeFile::Format format;
        if (!text.isEmpty() && !VolumeFile::formatOf(text, &format))
            recordFailure(Failures::Command,
                QString("auto_save_volume takes a .h5, .hdf5, .nxs, .tif or .tiff file, not "
                        "\"%1\"%2")
                    .arg(text, placeOf(cmd)));
        else
            volumeFile = text;
    } else if (is("auto_save_image")) {
        setAutoSaveImage(flag);
    } else if (is("auto_save_image_path")) {
        SelectImageSaveDir->setFilePath(text);
    } else if (is("auto_save_image_name")) {
        SelectImageSaveDir->setName(text);
    } else if (is("auto_save_image_tag")) {
        SelectImageSaveDir->setAddTag(text);
    } else if (is("auto_save_image_clear")) {
        SelectImageSaveDir->setFilePath(QString());
    } else if (is("auto_save_data")) {
        setAutoSaveData(flag);
    } else if (is("auto_save_tiff")) {
        AutoSaveTiff->setChecked(flag);
    } else if (is("auto_save_tiff_compress")) {
        AutoSaveTiffCompress->setChecked(flag);
    } else if (is("auto_save_data_path")) {
        SelectDataSaveDir->setFilePath(text);
    } else if (is("auto_save_data_name")) {
        SelectDataSaveDir->setName(text);
    } else if (is("auto_save_data_tag")) {
        SelectDataSaveDir->setAddTag(text);
    } else if (is("auto_save_data_clear")) {
        SelectDataSaveDir->setFilePath(QString());
    } else if (is("auto_save_in_sub_folders")) {
        SaveInSubFolders->setChecked(flag);
    } else if (is("auto_save_in_sub_folders_of_slice")) {
        SubOfSlice->setChecked(flag);
    } else if (is("auto_save_in_sub_folders_of_energy")) {
        SubOfEnergy->setChecked(flag);
    } else if (is("auto_save_data_upper_limit")) {
        DataUpperLimit->setText(text);
    } else if (is("auto_save_data_lower_limit")) {
        DataLowerLimit->setText(text);
    } else if (is("auto_save_data_offset")) {
        DataOffset->setText(text);

        // ---- CT-XAFS settings
    } else if (is("add_inf_show")) {
        setShowAdditionalInfo(flag);
    } else if (is("add_inf_ZBX_standard")) {
        SelDDir->setIsZBXStandard(flag);
    } else if (is("add_inf_raw_i0_val") || is("add_inf_i0_i0_val")) {
        (is("add_inf_raw_i0_val") ? I0ofRawImage_ : I0ofI0Image_)->setI0Val(number);
    } else if (is("add_inf_raw_i0_from_xafs") || is("add_inf_i0_i0_from_xafs")) {
        (is("add_inf_raw_i0_from_xafs") ? I0ofRawImage_ : I0ofI0Image_)->setCalcFromXafs(flag);
    } else if (is("add_inf_raw_i0_xafs") || is("add_inf_i0_i0_xafs")) {
        (is("add_inf_raw_i0_xafs") ? I0ofRawImage_ : I0ofI0Image_)->setXafsFile(text);
    } else if (is("add_inf_raw_i0_xafs_clear") || is("add_inf_i0_i0_xafs_clear")) {
        (is("add_inf_raw_i0_xafs_clear") ? I0ofRawImage_ : I0ofI0Image_)->clearXafsFile();
    } else if (is("add_inf_raw_i0_eng_ptn") || is("add_inf_i0_i0_eng_ptn")) {
        (is("add_inf_raw_i0_eng_ptn") ? I0ofRawImage_ : I0ofI0Image_)->setEngPattern(text);

        // ---- pages of the image tabs
    } else if (is("show_tab")) {
        ImgsTab->setCurrentIndex(cmd.argInt(0));
    } else if (is("show_orig")) {
        showPageOf(ImgsTab, RawImgBase);
    } else if (is("show_sinogram")) {
        showPageOf(ImgsTab, SinogramImgBase);
    } else if (is("show_ct1")) {
        showPageOf(ImgsTab, CtImgBase);
    } else if (is("body_view_load")) {
        // The 3D view's first set takes a folder of slice files (or one file), as its
        // "Select" does, and its tab comes to the front; the set loads on its own thread.
        // A batch goes on when the set is read, as after images_load.
        showPageOf(ImgsTab, CtViewBase);
        if (text.isEmpty() || !QFileInfo::exists(text)) {
            recordFailure(Failures::Load, "body_view_load: no such folder or file " + text);
        } else if (!ctView->ctrls.isEmpty()) {
            SliceDatas *datas = ctView->ctrls.first()->sliceDatas();
            if (fromBatch) {
                held = true;
                connect(
                    datas, &SliceDatas::loadFilesFinished, this,
                    [this] { emit callBatchCheckEnd(); }, Qt::SingleShotConnection);
            }
            QMetaObject::invokeMethod(datas, "filesSelected", Qt::QueuedConnection,
                Q_ARG(QStringList, QStringList { text }));
        }
    } else if (is("show_i0")) {
        showPageOf(ImgsTab, I0ImgBase);
    } else if (is("show_bg")) {
        showPageOf(ImgsTab, BGImgBase);
    } else if (is("show_ct2")) {
        // Worker k's tab (1-based); with the single "CT2" tab, or a number beyond the tabs
        // there are, the nearest tab that exists.
        const int tabs = showAllCt2Images ? int(ctCalc2s.size()) : 1;
        const int k = std::clamp(cmd.argInt(0), 1, std::max(1, tabs));
        showPageOf(ImgsTab, ImgsTab->findChild<PopDockBase *>(QString("Ct2ImgBase%1").arg(k)));

        // ---- the Spectrum tab: a spectral stack, its maps and the spectrum of a voxel
    } else if (is("spectra_load")) {
        // Without a file: the stack made last (seq_make_stack, "Make Stack...").
        const QString path = text.isEmpty() ? spectrumView->offeredStack() : text;
        showPageOf(ImgsTab, spectrumView);
        if (path.isEmpty())
            recordFailure(Failures::Command,
                QString("spectra_load needs a stack file: none was made%1").arg(placeOf(cmd)));
        else if (!spectrumView->loadStack(path))
            recordFailure(Failures::Load,
                QString("Cannot load the stack: %1%2")
                    .arg(spectrumView->lastError(), placeOf(cmd)));
    } else if (is("spectra_maps")) {
        // With the tool's defaults, made on a thread of the view's; the batch goes on when
        // the file is written and shown (or has failed).
        const QString where = placeOf(cmd);
        if (spectrumView->startMaps(text, cmd.args.mid(1))) {
            held = fromBatch;
            connect(
                spectrumView, &SpectrumView::mapsFinished, this,
                [this, where, fromBatch](bool ok) {
                    if (!ok)
                        recordFailure(Failures::FileWrite,
                            QString("Cannot make the maps: %1%2")
                                .arg(spectrumView->lastError(), where));
                    if (fromBatch)
                        emit callBatchCheckEnd();
                },
                Qt::SingleShotConnection);
        } else {
            recordFailure(Failures::FileWrite,
                QString("Cannot make the maps: %1%2").arg(spectrumView->lastError(), placeOf(cmd)));
        }
    } else if (is("spectra_export")) {
        const QString file = cmd.arg(3);
        if (cmd.argCount() < 4 || !isWholeNumber(cmd.arg(0)) || !isWholeNumber(cmd.arg(1))
            || !isWholeNumber(cmd.arg(2)))
            recordFailure(Failures::Command,
                QString("spectra_export needs SLICE ROW COLUMN FILE%1").arg(placeOf(cmd)));
        else if (!spectrumView->showVoxel(cmd.argInt(0), cmd.argInt(1), cmd.argInt(2)))
            recordFailure(
                Failures::Command, QString("%1%2").arg(spectrumView->lastError(), placeOf(cmd)));
        else if (!spectrumView->exportCsv(file))
            recordFailure(
                Failures::FileWrite, QString("Cannot write %1%2").arg(file, placeOf(cmd)));

        // ---- the companion viewer and sequential execution
    } else if (is("quoltLink_set_send_msg")) {
        SendMsg2Quolt->setChecked(flag);
    } else if (is("calc_exec")) {
        if (fromBatch) {
            // The batch waits for the run's end: stopCalcCt clears batchCalc and emits
            // batchCalcFinished, which is our completion.
            held = true;
            batchCalc = true;
            // A set of the data-set list (seq_exec_set) is a step of a sequence: "CoR per
            // Energy" guesses its own centre as the button's sequence does.
            if (SeqCorPerEnergy->isChecked() && setOfListLoaded)
                useCorOfThisSet();
            emit batchCalcStart();
        } else {
            // A setup or configuration line starts a run but must not release a batch that
            // did not send it.
            startCalcCt();
        }
    } else if (is("quit")) {
        // Ends the program as closing the window does. The batch is never released: nothing
        // after this line runs while the workers finish and the saver writes.
        held = fromBatch;
        if (cmd.argCount() > 0) {
            bool ok = false;
            const int status = cmd.arg(0).toInt(&ok);
            if (ok && status >= 0 && status <= 255)
                quitStatus = status;
            else
                recordFailure(Failures::Command,
                    QString("Not an exit status 0 ... 255 '%1'%2 (quit)")
                        .arg(cmd.arg(0), placeOf(cmd)));
        }
        askBeforeDiscard = false;
        QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
    } else if (is("seq_exec_show")) {
        ShowAdditionalInfo->setChecked(flag);
    } else if (is("seq_exec_dir")) {
        SelDDir->setDataDir(text);
    } else if (is("seq_exec_file_pattern")) {
        const bool changed = SelDDir->pattern() != text;
        SelDDir->setPattern(text);
        // Under the naming standard the pattern chooses the files the sets are made of; a
        // folder listed before the pattern arrived (setup files give the folder first) is
        // listed again with it.
        if (changed && SelDDir->isZBXStandard() && !SelDDir->dataDir().isEmpty())
            SelDDir->setDataDir(SelDDir->dataDir());
    } else if (is("seq_exec_next")) {
        const bool moved = SelDDir->advance();
        // The interpreter reads lastOk only after this command's completion reaches it.
        if (fromBatch)
            batch->lastOk = moved;
    } else if (is("seq_exec_set")) {
        // The announced set is loaded (selectedDir / selectedFileInfoList); with no set left
        // nothing is loaded and the command ends at once.
        bool announced = false;
        const auto note = [&announced] { announced = true; };
        const auto c1 = connect(SelDDir, &SelectDataDir::selected, this, note);
        const auto c2 = connect(SelDDir, &SelectDataDir::selectedFileInfoList, this, note);
        SelDDir->set();
        disconnect(c1);
        disconnect(c2);
        if (announced)
            holdUntilLoaded();
    } else if (is("seq_exec_select_i0")) {
        if (text.isEmpty())
            logLine("seq_exec_select_i0 needs a folder:", cmd.line);
        else
            SelI0Files->loadFromDir(text, cmd.args.mid(1));
    } else if (is("seq_exec_keep_range_on_new_set")) {
        keepOnNewSet->setChecked(flag);
    } else if (is("seq_cor_per_energy")) {
        SeqCorPerEnergy->setChecked(flag);
    } else if (is("seq_align")) {
        SeqAlign->setChecked(flag);
    } else if (is("seq_make_stack")) {
        // The batch goes on when the stack is written (or has failed).
        if (text.isEmpty())
            recordFailure(Failures::Command,
                QString("seq_make_stack needs the stack file%1").arg(placeOf(cmd)));
        else if (makeStack(text))
            held = stackHoldsBatch = fromBatch;
    } else if (cmd.lineNo > 0 && !cmd.cmd.isEmpty()) {
        // A misspelt keyword in a batch or setup file is reported; the batch goes on.
        recordFailure(
            Failures::Command, QString("Unknown command '%1'%2").arg(cmd.cmd, placeOf(cmd)));
    }
    // Anything else (a configuration key, a blank line) does nothing.

    if (fromBatch && !held)
        emit callBatchCheckEnd();
}
