<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ja_JP">
<context>
    <name>CBarUI</name>
    <message>
        <source>Frame</source>
        <translation>フレーム</translation>
    </message>
    <message>
        <source>Fix</source>
        <translation>固定</translation>
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
        <source>Keep Min and Max for the next pictures instead of each picture&apos;s own range.</source>
        <translation>次の画像にも、各画像自身の範囲ではなく Min と Max を使います。</translation>
    </message>
</context>
<context>
    <name>ContrastPanel</name>
    <message>
        <source>Auto</source>
        <translation>自動</translation>
    </message>
    <message>
        <source>Histogram of the last reconstructed slice: drag the red line (Min) or the blue line (Max) to set the contrast of the CT pictures.</source>
        <translation>最後に再構成したスライスのヒストグラム: 赤い線 (最小) か青い線 (最大) をドラッグして CT 画像のコントラストを決めます。</translation>
    </message>
    <message>
        <source>Min and Max at the 0.5 % and 99.5 % points of the values: a few outlying pixels do not spoil the contrast.</source>
        <translation>最小と最大を値の 0.5 % 点と 99.5 % 点にします: 外れた少数の画素がコントラストを損ないません。</translation>
    </message>
    <message>
        <source>Min %1  Max %2</source>
        <translation>最小 %1  最大 %2</translation>
    </message>
</context>
<context>
    <name>CtDisp</name>
    <message>
        <source>CT display</source>
        <translation>CT表示</translation>
    </message>
    <message>
        <source>Slice %1</source>
        <translation>スライス %1</translation>
    </message>
</context>
<context>
    <name>DispAWLayout</name>
    <message>
        <source>Frame</source>
        <translation>フレーム</translation>
    </message>
</context>
<context>
    <name>ImgDispWCBar</name>
    <message>
        <source>Image Display with Color Bar</source>
        <translation>カラーバー付き画像表示</translation>
    </message>
</context>
<context>
    <name>ImgDispWPV</name>
    <message>
        <source>Frame</source>
        <translation>フレーム</translation>
    </message>
    <message>
        <source>X</source>
        <translation>X</translation>
    </message>
    <message>
        <source>Y</source>
        <translation>Y</translation>
    </message>
    <message>
        <source>Val:</source>
        <translation>値:</translation>
    </message>
    <message>
        <source>Scale Reset</source>
        <translation>スケールリセット</translation>
    </message>
    <message>
        <source>Image Display with Position and Value</source>
        <translation>位置・値付き画像表示</translation>
    </message>
    <message>
        <source>Show the whole picture again.</source>
        <translation>画像全体を再び表示します。</translation>
    </message>
</context>
<context>
    <name>PopDockBase</name>
    <message>
        <source>Frame</source>
        <translation>フレーム</translation>
    </message>
    <message>
        <source>Pop/Dock</source>
        <translation>ポップ/ドック</translation>
    </message>
    <message>
        <source>Show this page in a window of its own, or put it back.</source>
        <translation>このページを別ウィンドウに出す、または元に戻します。</translation>
    </message>
</context>
<context>
    <name>ProfilePanel</name>
    <message>
        <source>Export CSV</source>
        <translation>CSV 書き出し</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>閉じる</translation>
    </message>
    <message>
        <source>Values along the green line drawn on the picture (Ctrl+drag), from its marked start; Ctrl+right click removes the line.</source>
        <translation>画像上に引いた緑の線 (Ctrl+ドラッグ) に沿った値 (印のある始点から)。Ctrl+右クリックで線を消します。</translation>
    </message>
    <message>
        <source>Write the profile as a CSV file: distance and value per line.</source>
        <translation>プロファイルを CSV ファイルに書き出します: 1 行に距離と値。</translation>
    </message>
    <message>
        <source>Remove the profile line and this plot.</source>
        <translation>プロファイルの線とこのグラフを消します。</translation>
    </message>
    <message>
        <source>No values along the line</source>
        <translation>線上に値がありません</translation>
    </message>
    <message>
        <source>Length %1 %2  Min %3  Max %4</source>
        <translation>長さ %1 %2  最小 %3  最大 %4</translation>
    </message>
    <message>
        <source>px</source>
        <translation>ピクセル</translation>
    </message>
    <message>
        <source>Export the profile</source>
        <translation>プロファイルの書き出し</translation>
    </message>
    <message>
        <source>CSV files (*.csv);;All files (*)</source>
        <translation>CSV ファイル (*.csv);;すべてのファイル (*)</translation>
    </message>
</context>
<context>
    <name>SeekCtrl</name>
    <message>
        <source>Frame</source>
        <translation>フレーム</translation>
    </message>
    <message>
        <source>...</source>
        <translation>...</translation>
    </message>
    <message>
        <source>Ten back.</source>
        <translation>10 戻る。</translation>
    </message>
    <message>
        <source>Choose the picture.</source>
        <translation>画像を選びます。</translation>
    </message>
    <message>
        <source>Ten on.</source>
        <translation>10 進む。</translation>
    </message>
    <message>
        <source>Number of the picture shown (from 0).</source>
        <translation>表示している画像の番号 (0 から)。</translation>
    </message>
</context>
</TS>
