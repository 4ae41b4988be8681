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
    <message>
        <source>Shading</source>
        <translation>陰影</translation>
    </message>
    <message>
        <source>Shade each set&apos;s picture as a relief lit from the upper left, so that edges and slopes show their shape.</source>
        <translation>各セットの画像を左上から照らした起伏として陰影を付け、縁や斜面の形が見えるようにします。</translation>
    </message>
    <message>
        <source>Add another set of slice files, drawn over the sets before it.</source>
        <translation>スライスファイルのセットを追加します。前のセットの上に描きます。</translation>
    </message>
    <message>
        <source>Move the cross sections of all sets together with the slider of any one.</source>
        <translation>どれか一つのスライダーで全セットの断面を一緒に動かします。</translation>
    </message>
    <message>
        <source>Picture size in pixels: small (256) while turning the view, large (1024 or more) for the final picture.</source>
        <translation>画像の大きさ（ピクセル）: 視点を回す間は小さく (256)、最終画像では大きく (1024 以上) します。</translation>
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
    <message>
        <source>Show the settings of this set again.</source>
        <translation>このセットの設定を再び表示します。</translation>
    </message>
    <message>
        <source>Fold the settings of this set away.</source>
        <translation>このセットの設定を折りたたみます。</translation>
    </message>
    <message>
        <source>Choose the slice files of this set (CT image data files, pictures or float TIFF slices), or a folder of them.</source>
        <translation>このセットのスライスファイル（CT 画像データファイル、画像、浮動小数点 TIFF スライス）またはそのフォルダを選びます。</translation>
    </message>
    <message>
        <source>The slice files of this set, in slice order.</source>
        <translation>このセットのスライスファイル（スライス順）。</translation>
    </message>
    <message>
        <source>Smallest value of the set.</source>
        <translation>セットの最小値。</translation>
    </message>
    <message>
        <source>Largest value of the set.</source>
        <translation>セットの最大値。</translation>
    </message>
    <message>
        <source>Lower threshold: smaller values are not drawn.</source>
        <translation>下側しきい値: これより小さい値は描きません。</translation>
    </message>
    <message>
        <source>Upper threshold: larger values are not drawn.</source>
        <translation>上側しきい値: これより大きい値は描きません。</translation>
    </message>
    <message>
        <source>Lower threshold in per cent of the value range.</source>
        <translation>下側しきい値（値の範囲に対する百分率）。</translation>
    </message>
    <message>
        <source>Upper threshold in per cent of the value range.</source>
        <translation>上側しきい値（値の範囲に対する百分率）。</translation>
    </message>
    <message>
        <source>Histogram of the set&apos;s values: drag the red lines to set the thresholds.</source>
        <translation>セットの値のヒストグラム。赤線をドラッグしてしきい値を設定します。</translation>
    </message>
    <message>
        <source>Draw the outline of the set&apos;s box.</source>
        <translation>セットの外枠を描きます。</translation>
    </message>
    <message>
        <source>Draw the set&apos;s volume.</source>
        <translation>セットのボリュームを描きます。</translation>
    </message>
    <message>
        <source>Cut the volume at the plane of the slider and paint the cut in the section colour.</source>
        <translation>スライダーの平面でボリュームを切り、切り口を断面色で塗ります。</translation>
    </message>
    <message>
        <source>Position of the cutting plane across the set.</source>
        <translation>セットを横切る切断面の位置。</translation>
    </message>
    <message>
        <source>Keep the direction of the cutting plane while the view turns.</source>
        <translation>視点を回しても切断面の向きを保ちます。</translation>
    </message>
    <message>
        <source>Choose the colour of the volume.</source>
        <translation>ボリュームの色を選びます。</translation>
    </message>
    <message>
        <source>Choose the colour of the cross section.</source>
        <translation>断面の色を選びます。</translation>
    </message>
    <message>
        <source>Opacity of the set: 255 opaque, 0 invisible.</source>
        <translation>セットの不透明度: 255 で不透明、0 で見えません。</translation>
    </message>
</context>
</TS>
