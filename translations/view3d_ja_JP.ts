<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ja_JP">
<context>
    <name>CtView</name>
    <message>
        <source>ctView</source>
        <translation>3D表示</translation>
    </message>
    <message>
        <source>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;The size of screen. Firstly, they should be so small as 256 to work quickly. When the settings, like obserbing direction, position of closs-section, and color range, are decided, it should be set larger as 1024 or so to get high resolution results.&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</source>
        <translation>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;画面の大きさです。まずは 256 程度の小さな値にして素早く動かしてください。観察方向、断面の位置、色の範囲などの設定が決まったら、1024 程度の大きな値にして高解像度の結果を得てください。&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</translation>
    </message>
    <message>
        <source>Img Size in Pix</source>
        <translation>画像サイズ (ピクセル)</translation>
    </message>
    <message>
        <source>Save Image</source>
        <translation>画像を保存</translation>
    </message>
    <message>
        <source>Add Slice Set</source>
        <translation>スライスセットを追加</translation>
    </message>
    <message>
        <source>Link C. Section</source>
        <translation>断面を連動</translation>
    </message>
    <message>
        <source>Supported File Types are : %1
 and also SVG.</source>
        <translation>対応するファイル形式 : %1
 および SVG</translation>
    </message>
    <message>
        <source>Any (* *.*)</source>
        <translation>すべて (* *.*)</translation>
    </message>
</context>
<context>
    <name>SlicesCtrl</name>
    <message>
        <source>%1 slice data files found, %2 refused</source>
        <translation>スライスデータファイル %1 個を検出、%2 個を除外</translation>
    </message>
    <message>
        <source>Load Slices</source>
        <translation>スライスの読み込み</translation>
    </message>
    <message>
        <source>Show</source>
        <translation>表示</translation>
    </message>
    <message>
        <source>Select</source>
        <translation>選択</translation>
    </message>
    <message>
        <source>Color Scale: </source>
        <translation>カラースケール: </translation>
    </message>
    <message>
        <source>min</source>
        <translation>最小</translation>
    </message>
    <message>
        <source>max</source>
        <translation>最大</translation>
    </message>
    <message>
        <source>[</source>
        <translation>[</translation>
    </message>
    <message>
        <source>%]</source>
        <translation>%]</translation>
    </message>
    <message>
        <source>Show Frame</source>
        <translation>枠を表示</translation>
    </message>
    <message>
        <source>Show Volume</source>
        <translation>ボリュームを表示</translation>
    </message>
    <message>
        <source>Show C. Section</source>
        <translation>断面を表示</translation>
    </message>
    <message>
        <source>Cross Section</source>
        <translation>断面</translation>
    </message>
    <message>
        <source>Fix Dir.</source>
        <translation>方向を固定</translation>
    </message>
    <message>
        <source>V Color</source>
        <translation>ボリューム色</translation>
    </message>
    <message>
        <source>S Color</source>
        <translation>断面色</translation>
    </message>
    <message>
        <source>a</source>
        <translation>α</translation>
    </message>
    <message>
        <source>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;Opacity of the object. &lt;/p&gt;&lt;p&gt;255 : no transpparency (anything behind is invisible )&lt;/p&gt;&lt;p&gt;0 : perfectry transparent ( the object itself is invisible )&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</source>
        <translation>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;物体の不透明度です。&lt;/p&gt;&lt;p&gt;255 : 透明でない (背後のものは見えない)&lt;/p&gt;&lt;p&gt;0 : 完全に透明 (物体自体が見えない)&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</translation>
    </message>
    <message>
        <source>Show Setup %1</source>
        <translation>設定 %1 を表示</translation>
    </message>
    <message>
        <source>Select Data Files</source>
        <translation>データファイルの選択</translation>
    </message>
    <message>
        <source>Data Files (*.dat *.png)</source>
        <translation>データファイル (*.dat *.png)</translation>
    </message>
    <message>
        <source>Float TIFF Slices (*.tif *.tiff)</source>
        <translation>浮動小数点TIFFスライス (*.tif *.tiff)</translation>
    </message>
    <message>
        <source>Any Files (* *.*)</source>
        <translation>すべてのファイル (* *.*)</translation>
    </message>
    <message>
        <source>Select Volume Color</source>
        <translation>ボリューム色の選択</translation>
    </message>
    <message>
        <source>Select Section Color</source>
        <translation>断面色の選択</translation>
    </message>
    <message>
        <source>3D view: %1 slice data files found, %2 refused (see the tool tip of the file list), the first: %3</source>
        <translation>3D表示: スライスデータファイル %1 個、除外 %2 個 (ファイル一覧のツールチップ参照)、最初の除外: %3</translation>
    </message>
</context>
</TS>
