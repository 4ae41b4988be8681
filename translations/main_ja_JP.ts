<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ja_JP">
<context>
    <name>Body</name>
    <message>
        <source>CT1</source>
        <translation>CT1</translation>
    </message>
    <message>
        <source>CT2</source>
        <translation>CT2</translation>
    </message>
    <message>
        <source>Calc</source>
        <translation>計算</translation>
    </message>
    <message>
        <source>Show Res.</source>
        <translation>結果表示</translation>
    </message>
    <message>
        <source>Start</source>
        <translation>開始</translation>
    </message>
    <message>
        <source>End</source>
        <translation>終了</translation>
    </message>
    <message>
        <source>Spent</source>
        <translation>所要</translation>
    </message>
    <message>
        <source>Auto Save Img</source>
        <translation>画像自動保存</translation>
    </message>
    <message>
        <source>Auto Save Data</source>
        <translation>データ自動保存</translation>
    </message>
    <message>
        <source>TIFF</source>
        <translation>TIFF</translation>
    </message>
    <message>
        <source>Also save each slice as a 32-bit float TIFF file beside the data file (values as computed, without limits or offset).</source>
        <translation>各スライスをデータファイルと同じ場所に32ビット浮動小数点TIFFファイルとしても保存します（計算値のまま、上下限とオフセットは適用しません）。</translation>
    </message>
    <message>
        <source>zlib</source>
        <translation>zlib圧縮</translation>
    </message>
    <message>
        <source>Compress the TIFF files (deflate).</source>
        <translation>TIFFファイルを圧縮します（deflate）。</translation>
    </message>
    <message>
        <source>Save in Sub Folders</source>
        <translation>サブフォルダに保存</translation>
    </message>
    <message>
        <source>When this option is selected but neither &apos;of Energy&apos; nor &apos;of Slice&apos; is selected, it works as if &apos;of Slice&apos; is selected.W</source>
        <translation>このオプションを選び、「エネルギー別」も「スライス別」も選ばないときは、「スライス別」を選んだものとして動作します。</translation>
    </message>
    <message>
        <source>of Energy</source>
        <translation>エネルギー別</translation>
    </message>
    <message>
        <source>of Slice</source>
        <translation>スライス別</translation>
    </message>
    <message>
        <source>Upper Limit</source>
        <translation>上限</translation>
    </message>
    <message>
        <source>Lower Limit</source>
        <translation>下限</translation>
    </message>
    <message>
        <source>Offset</source>
        <translation>オフセット</translation>
    </message>
    <message>
        <source>Fix Color Scale</source>
        <translation>カラースケール固定</translation>
    </message>
    <message>
        <source>Min</source>
        <translation>最小</translation>
    </message>
    <message>
        <source>Max</source>
        <translation>最大</translation>
    </message>
    <message>
        <source>Save Setup</source>
        <translation>設定保存</translation>
    </message>
    <message>
        <source>Load Setup</source>
        <translation>設定読込</translation>
    </message>
    <message>
        <source>Show Additionl Info for CT XAFS</source>
        <translation>CT XAFS 用の追加情報を表示</translation>
    </message>
    <message>
        <source>More</source>
        <translation>詳細</translation>
    </message>
    <message>
        <source>Seq. Calc.</source>
        <translation>連続計算</translation>
    </message>
    <message>
        <source>From</source>
        <translation>開始</translation>
    </message>
    <message>
        <source>To</source>
        <translation>終了</translation>
    </message>
    <message>
        <source>Keep on New Sets</source>
        <translation>新しいセットでも保持</translation>
    </message>
    <message>
        <source>[s]</source>
        <translation>[秒]</translation>
    </message>
    <message>
        <source>Link 2dQuolt</source>
        <translation>2dQuolt 接続</translation>
    </message>
    <message>
        <source>Send Msg.</source>
        <translation>メッセージ送信</translation>
    </message>
    <message>
        <source>w 2DA</source>
        <translation>2DA 付き</translation>
    </message>
    <message>
        <source>Exec 2DA</source>
        <translation>2DA 実行</translation>
    </message>
    <message>
        <source>Cont. 2DA</source>
        <translation>2DA 連続</translation>
    </message>
    <message>
        <source>Busy</source>
        <translation>処理中</translation>
    </message>
    <message>
        <source>Raw Image</source>
        <translation>生画像</translation>
    </message>
    <message>
        <source>Sinogram</source>
        <translation>サイノグラム</translation>
    </message>
    <message>
        <source>CT Reconstructed Image</source>
        <translation>CT 再構成画像</translation>
    </message>
    <message>
        <source>I0 Image</source>
        <translation>I0 画像</translation>
    </message>
    <message>
        <source>BG Image</source>
        <translation>BG 画像</translation>
    </message>
    <message>
        <source>CT Images</source>
        <translation>CT 画像一覧</translation>
    </message>
    <message>
        <source>3D View</source>
        <translation>3D 表示</translation>
    </message>
    <message>
        <source>Vexa2 Images</source>
        <translation>Vexa2 画像</translation>
    </message>
    <message>
        <source>Sel. I0 File Set</source>
        <translation>I0 ファイル群選択</translation>
    </message>
    <message>
        <source>Measured Raw Image</source>
        <translation>測定生画像</translation>
    </message>
    <message>
        <source>Check Sinogram</source>
        <translation>サイノグラム確認</translation>
    </message>
    <message>
        <source>CT Reconstruction</source>
        <translation>CT 再構成</translation>
    </message>
    <message>
        <source>CT images</source>
        <translation>CT 画像</translation>
    </message>
    <message>
        <source>Reconstructed Body View</source>
        <translation>再構成体積表示</translation>
    </message>
    <message>
        <source>Spectrum</source>
        <translation>スペクトル</translation>
    </message>
    <message>
        <source>Spectrum View</source>
        <translation>スペクトル表示</translation>
    </message>
    <message>
        <source>I0 of Raw Image</source>
        <translation>生画像の I0</translation>
    </message>
    <message>
        <source>I0 of I0 Image</source>
        <translation>I0 画像の I0</translation>
    </message>
    <message>
        <source>CT Calc2 %1</source>
        <translation>CT 計算2 %1</translation>
    </message>
    <message>
        <source>CT2 %1</source>
        <translation>CT2 %1</translation>
    </message>
    <message>
        <source>Loading first Data Set</source>
        <translation>最初のデータセットを読込中</translation>
    </message>
    <message>
        <source>Loading next Data Set</source>
        <translation>次のデータセットを読込中</translation>
    </message>
    <message>
        <source>Problems: %1, the last: %2</source>
        <translation>問題: %1 件、最後: %2</translation>
    </message>
    <message>
        <source>Guess the centre of rotation on each data set and keep every set on the first set&apos;s grid, the rotation axis at the same pixel</source>
        <translation>データセットごとに回転中心を推定し、すべてのセットを最初のセットの格子（回転軸が同じ画素）に揃えます</translation>
    </message>
    <message>
        <source>CoR per Energy</source>
        <translation>エネルギーごとのCoR</translation>
    </message>
    <message>
        <source>Region: whole</source>
        <translation>領域: 全体</translation>
    </message>
    <message>
        <source>Whole</source>
        <translation>全体</translation>
    </message>
    <message>
        <source>CT1, CT2 apart</source>
        <translation>CT1, CT2 別々</translation>
    </message>
    <message>
        <source>&quot;%1&quot; is not a number; the field keeps %2</source>
        <translation>「%1」は数値ではありません。%2 のままです</translation>
    </message>
    <message>
        <source>Selection removed: the region is the whole slice again</source>
        <translation>選択を解除しました: 領域はスライス全体に戻りました</translation>
    </message>
    <message>
        <source>No link to 2dQuolt at %1:%2: %3</source>
        <translation>2dQuolt (%1:%2) に接続できません: %3</translation>
    </message>
    <message>
        <source>Files chosen outside the data-set list: the tag %1 of that set is no longer added to the names of saved files</source>
        <translation>データセット一覧以外からファイルを選びました: そのセットのタグ %1 は保存ファイル名に付けません</translation>
    </message>
    <message>
        <source>None of the %1 chosen files can be read (%2: %3): the loaded set of %4 images stays</source>
        <translation>選んだ %1 個のファイルはどれも読めません (%2: %3): 読み込み済みの %4 枚のセットはそのままです</translation>
    </message>
    <message>
        <source>The new set of %1 x %2 images replaces what you set: %3</source>
        <translation>新しい %1 x %2 画像のセットで設定値を置き換えました: %3</translation>
    </message>
    <message>
        <source>slice range</source>
        <translation>スライス範囲</translation>
    </message>
    <message>
        <source>slice</source>
        <translation>スライス</translation>
    </message>
    <message>
        <source>CoR</source>
        <translation>回転中心</translation>
    </message>
    <message>
        <source>region</source>
        <translation>領域</translation>
    </message>
    <message>
        <source>Rotation axis %1: slice %2, slices %3 ... %4, CoR %5, %6</source>
        <translation>回転軸 %1: スライス %2, 範囲 %3 ... %4, 回転中心 %5, %6</translation>
    </message>
    <message>
        <source>Region: %1</source>
        <translation>領域: %1</translation>
    </message>
    <message>
        <source>whole</source>
        <translation>全体</translation>
    </message>
    <message>
        <source>Region CT1: %1, CT2: %2</source>
        <translation>領域 CT1: %1, CT2: %2</translation>
    </message>
    <message>
        <source>Slice %1 lies outside the set (0 ... %2): the slice stays %3</source>
        <translation>スライス %1 はセットの外です (0 ... %2): スライスは %3 のままです</translation>
    </message>
    <message>
        <source>Starts the reconstruction (F5) or stops it (F5, Esc)</source>
        <translation>再構成を開始します (F5)。実行中は停止します (F5, Esc)</translation>
    </message>
    <message>
        <source>Centre of Rotation Sweep</source>
        <translation>回転中心の掃引</translation>
    </message>
    <message>
        <source>CoR Sweep</source>
        <translation>回転中心掃引</translation>
    </message>
    <message>
        <source>Centre of rotation %1 taken from the sweep</source>
        <translation>掃引から回転中心 %1 を設定しました</translation>
    </message>
    <message>
        <source>CoR sweep of slice %1: %2 slices, the least total variation at CoR %3</source>
        <translation>スライス %1 の回転中心掃引: %2 枚、全変動が最小なのは回転中心 %3</translation>
    </message>
    <message>
        <source>Slices made of the run&apos;s range and the time left at the rate so far; in a sequential run, which energy set of how many.</source>
        <translation>実行範囲のうち再構成済みのスライス数と、これまでの速さでの残り時間。逐次実行ではエネルギーのセットが何番目か。</translation>
    </message>
    <message>
        <source>%1 of %2 slices</source>
        <translation>%2 枚中 %1 枚</translation>
    </message>
    <message>
        <source>, %1 left</source>
        <translation>、残り %1</translation>
    </message>
    <message>
        <source>Energy %1 of %2</source>
        <translation>エネルギー %2 個中 %1 個目</translation>
    </message>
    <message>
        <source>Unsaved slices</source>
        <translation>保存していないスライス</translation>
    </message>
    <message>
        <source>The %1 slices of the last run in &quot;CT Images&quot; were not saved and will be lost. Go on?</source>
        <translation>前回の実行の「CT Images」にある %1 枚のスライスは保存されておらず、失われます。続けますか?</translation>
    </message>
    <message>
        <source>Reconstruct the current slice on the single-slice panel (CT1).</source>
        <translation>現在のスライスを単一スライスパネル (CT1) で再構成します。</translation>
    </message>
    <message>
        <source>Reconstruct on the worker threads (CT2): the current slice, or the slice range with &quot;Auto Exec&quot;.</source>
        <translation>ワーカースレッド (CT2) で再構成します: 現在のスライス、または &quot;Auto Exec&quot; でスライス範囲。</translation>
    </message>
    <message>
        <source>Start the reconstruction (F5); pressed again, stop it (Esc).</source>
        <translation>再構成を始めます (F5)。もう一度押すと止めます (Esc)。</translation>
    </message>
    <message>
        <source>Keep a picture of every slice of a run in &quot;CT Images&quot;.</source>
        <translation>実行の各スライスの画像を &quot;CT Images&quot; に残します。</translation>
    </message>
    <message>
        <source>Give the whole slice back as the calculation region of every view.</source>
        <translation>すべての表示の計算領域をスライス全体に戻します。</translation>
    </message>
    <message>
        <source>Keep the regions of the CT1 and CT2 panels apart instead of setting both.</source>
        <translation>CT1 と CT2 パネルの領域を連動させず別々にします。</translation>
    </message>
    <message>
        <source>Save a picture of every slice a worker finishes.</source>
        <translation>ワーカーが終えた各スライスの画像を保存します。</translation>
    </message>
    <message>
        <source>Save a CT image data file of every slice a worker finishes.</source>
        <translation>ワーカーが終えた各スライスの CT 画像データファイルを保存します。</translation>
    </message>
    <message>
        <source>Save into a sub folder per energy set.</source>
        <translation>エネルギーのセットごとのサブフォルダに保存します。</translation>
    </message>
    <message>
        <source>Save into a sub folder per slice.</source>
        <translation>スライスごとのサブフォルダに保存します。</translation>
    </message>
    <message>
        <source>Show every CT picture between Min and Max instead of its own range.</source>
        <translation>各 CT 画像を自身の範囲ではなく Min から Max で表示します。</translation>
    </message>
    <message>
        <source>Write every setting as a setup file of batch commands (Ctrl+S).</source>
        <translation>すべての設定をバッチコマンドのセットアップファイルに書き出します (Ctrl+S)。</translation>
    </message>
    <message>
        <source>Read the settings from a setup file.</source>
        <translation>セットアップファイルから設定を読み込みます。</translation>
    </message>
    <message>
        <source>Show the controls for CT-XAFS: data sets per energy, I0 files, sequential runs and the viewer link.</source>
        <translation>CT-XAFS 用の操作を表示します: エネルギーごとのデータセット、I0 ファイル、逐次実行、ビューアとの連携。</translation>
    </message>
    <message>
        <source>Show the I0 corrections of the raw and the I0 images.</source>
        <translation>生画像と I0 画像の I0 補正を表示します。</translation>
    </message>
    <message>
        <source>Reconstruct the data sets from &quot;From&quot; to &quot;To&quot; one after another; pressed again, stop after the set under way.</source>
        <translation>&quot;From&quot; から &quot;To&quot; までのデータセットを順に再構成します。もう一度押すと、実行中のセットの後で止めます。</translation>
    </message>
    <message>
        <source>First data set of the sequential run (1 is the first of the list).</source>
        <translation>逐次実行の最初のデータセット (1 がリストの先頭)。</translation>
    </message>
    <message>
        <source>Last data set of the sequential run.</source>
        <translation>逐次実行の最後のデータセット。</translation>
    </message>
    <message>
        <source>Keep From and To when a new folder of data sets is chosen.</source>
        <translation>新しいデータセットのフォルダを選んでも From と To を保ちます。</translation>
    </message>
    <message>
        <source>Connect to the spectrum viewer 2dQuolt.</source>
        <translation>スペクトルビューア 2dQuolt に接続します。</translation>
    </message>
    <message>
        <source>A click on the raw image sends the files of the slice clicked to the viewer.</source>
        <translation>生画像をクリックすると、そのスライスのファイルをビューアに送ります。</translation>
    </message>
    <message>
        <source>Follow each load in the viewer with its two-dimensional analysis.</source>
        <translation>ビューアでの読み込みのたびに二次元解析を続けて行います。</translation>
    </message>
    <message>
        <source>Run the viewer&apos;s two-dimensional analysis on the current slice.</source>
        <translation>現在のスライスでビューアの二次元解析を実行します。</translation>
    </message>
    <message>
        <source>Send the slices of the range to the viewer one after another, each with its analysis; pressed again, stop.</source>
        <translation>範囲のスライスを順にビューアに送り、それぞれ解析させます。もう一度押すと止めます。</translation>
    </message>
    <message>
        <source>Gather the slices the sequence saved (one folder per energy below the data save folder) into one spectral stack file</source>
        <translation>シーケンスが保存したスライス（データ保存フォルダの下のエネルギーごとのフォルダ）を一つのスペクトルスタックファイルにまとめます</translation>
    </message>
    <message>
        <source>Make Stack...</source>
        <translation>スタック作成...</translation>
    </message>
    <message>
        <source>Register each energy&apos;s volume onto its neighbour&apos;s before stacking</source>
        <translation>スタックにする前に各エネルギーのボリュームを隣のエネルギーのボリュームに位置合わせします</translation>
    </message>
    <message>
        <source>Align</source>
        <translation>位置合わせ</translation>
    </message>
    <message>
        <source>Spectral stack</source>
        <translation>スペクトルスタック</translation>
    </message>
    <message>
        <source>HDF5 files (*.h5)</source>
        <translation>HDF5 ファイル (*.h5)</translation>
    </message>
    <message>
        <source>CoR sweep of slice %1: %2 centres of rotation</source>
        <translation>スライス %1 の回転中心掃引: 回転中心 %2 個</translation>
    </message>
    <message>
        <source>Recent</source>
        <translation>最近</translation>
    </message>
    <message>
        <source>The last %1 data folders loaded, newest first: choose one to load it as &quot;Data Select&quot; would.</source>
        <translation>最近読み込んだデータフォルダ %1 個（新しい順）。選ぶと「Data Select」と同じように読み込みます。</translation>
    </message>
    <message>
        <source>%1 (missing)</source>
        <translation>%1（見つかりません）</translation>
    </message>
    <message>
        <source>No data folder loaded yet</source>
        <translation>まだデータフォルダを読み込んでいません</translation>
    </message>
    <message>
        <source>The data folder %1 is gone: it is dropped from the recent folders</source>
        <translation>データフォルダ %1 がありません。最近のフォルダから外しました</translation>
    </message>
</context>
<context>
    <name>XafsBatch</name>
    <message>
        <source>Data Loading</source>
        <translation>データ読込</translation>
    </message>
    <message>
        <source>Calculating</source>
        <translation>計算中</translation>
    </message>
    <message>
        <source>Finished Calc.</source>
        <translation>計算終了</translation>
    </message>
    <message>
        <source>Finished</source>
        <translation>終了</translation>
    </message>
</context>
</TS>
