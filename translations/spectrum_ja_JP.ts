<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ja_JP">
<context>
    <name>SpectrumView</name>
    <message>
        <source>Load Stack...</source>
        <translation>スタックを読み込む...</translation>
    </message>
    <message>
        <source>Make Maps...</source>
        <translation>マップを作成...</translation>
    </message>
    <message>
        <source>No stack</source>
        <translation>スタックなし</translation>
    </message>
    <message>
        <source>Slice </source>
        <translation>スライス </translation>
    </message>
    <message>
        <source>Energy No. </source>
        <translation>エネルギー番号 </translation>
    </message>
    <message>
        <source>Normalised</source>
        <translation>規格化</translation>
    </message>
    <message>
        <source>Region Mean</source>
        <translation>領域平均</translation>
    </message>
    <message>
        <source>Mean spectrum of the rectangle drawn with Shift + drag</source>
        <translation>Shift + ドラッグで描いた矩形の平均スペクトル</translation>
    </message>
    <message>
        <source>Pin</source>
        <translation>固定</translation>
    </message>
    <message>
        <source>Clear Pins</source>
        <translation>固定を解除</translation>
    </message>
    <message>
        <source>Export CSV...</source>
        <translation>CSV 出力...</translation>
    </message>
    <message>
        <source>Energy image</source>
        <translation>エネルギー画像</translation>
    </message>
    <message>
        <source>row %1  column %2  value %3</source>
        <translation>行 %1  列 %2  値 %3</translation>
    </message>
    <message>
        <source>none</source>
        <translation>なし</translation>
    </message>
    <message>
        <source>normalised</source>
        <translation>規格化</translation>
    </message>
    <message>
        <source>fit</source>
        <translation>フィット</translation>
    </message>
    <message>
        <source>mu</source>
        <translation>μ</translation>
    </message>
    <message>
        <source>pre-edge</source>
        <translation>吸収端前</translation>
    </message>
    <message>
        <source>post-edge</source>
        <translation>吸収端後</translation>
    </message>
    <message>
        <source>Energy (eV)</source>
        <translation>エネルギー (eV)</translation>
    </message>
    <message>
        <source>normalised mu</source>
        <translation>規格化 μ</translation>
    </message>
    <message>
        <source>E0 %1 eV  step %2  half height %3 eV  white line %4 at %5 eV</source>
        <translation>E0 %1 eV  エッジジャンプ %2  半値位置 %3 eV  ホワイトライン %4 (%5 eV)</translation>
    </message>
    <message>
        <source>no edge found</source>
        <translation>吸収端が見つかりません</translation>
    </message>
    <message>
        <source>  R %1</source>
        <translation>  R %1</translation>
    </message>
    <message>
        <source>Spectral stack</source>
        <translation>スペクトルスタック</translation>
    </message>
    <message>
        <source>HDF5 files (*.h5 *.hdf5 *.nxs);;All files (*)</source>
        <translation>HDF5 ファイル (*.h5 *.hdf5 *.nxs);;すべてのファイル (*)</translation>
    </message>
    <message>
        <source>Reference spectra (none: edge maps only)</source>
        <translation>参照スペクトル (なし: 吸収端マップのみ)</translation>
    </message>
    <message>
        <source>Text files (*.txt *.dat *.csv);;All files (*)</source>
        <translation>テキストファイル (*.txt *.dat *.csv);;すべてのファイル (*)</translation>
    </message>
    <message>
        <source>Maps file</source>
        <translation>マップファイル</translation>
    </message>
    <message>
        <source>HDF5 files (*.h5)</source>
        <translation>HDF5 ファイル (*.h5)</translation>
    </message>
    <message>
        <source>Export shown spectra</source>
        <translation>表示中のスペクトルを出力</translation>
    </message>
    <message>
        <source>CSV files (*.csv)</source>
        <translation>CSV ファイル (*.csv)</translation>
    </message>
    <message>
        <source>Cannot write %1</source>
        <translation>%1 を書き込めません</translation>
    </message>
    <message>
        <source>Load Stack Just Made</source>
        <translation>作成したスタックを読込</translation>
    </message>
    <message>
        <source>Making the maps %1 ...</source>
        <translation>マップ %1 を作成中 ...</translation>
    </message>
</context>
</TS>
