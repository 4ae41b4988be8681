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
