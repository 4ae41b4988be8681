<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ja_JP">
<context>
    <name>I0ofImage</name>
    <message>
        <source>I0 of Image</source>
        <translation>画像のI0</translation>
    </message>
    <message>
        <source>Calc from XAFS file</source>
        <translation>XAFSファイルから計算</translation>
    </message>
    <message>
        <source>Eng. Ptn in Img F. Name :</source>
        <translation>画像ファイル名のエネルギー書式 :</translation>
    </message>
    <message>
        <source>The I0 image&apos;s counts above the BG image are scaled by I0 of Raw Image / I0 of I0 Image before the attenuation is formed: this corrects for the change of the beam between the two measurements (ring current, monochromator). With the same value for both (1.0 by default) nothing changes.</source>
        <translation>I0画像のBG画像を超えるカウントは、吸収を求める前に「生画像のI0」/「I0画像のI0」倍されます。これで二つの測定の間のビームの変化（リング電流、分光器）を補正します。両方が同じ値（既定は1.0）なら何も変わりません。</translation>
    </message>
    <message>
        <source>Fixed I0 of these images, used unless &quot;Calc from XAFS file&quot; finds a value in the XAFS file</source>
        <translation>これらの画像の固定のI0。「XAFSファイルから計算」がXAFSファイルに値を見つけない限り使われます</translation>
    </message>
    <message>
        <source>Take I0 from the XAFS file at the energy read from the image file name (or its folder&apos;s name) with the pattern below</source>
        <translation>下の書式で画像ファイル名（またはそのフォルダ名）から読んだエネルギーでのI0をXAFSファイルから取ります</translation>
    </message>
    <message>
        <source>Where the energy stands in the image file names: # is one digit, _ the decimal point, any other character itself; the digits must not run on into others (####_#### finds 8980_0000, that is 8980 eV)</source>
        <translation>画像ファイル名のどこにエネルギーがあるか：# は数字1桁、_ は小数点、その他の文字はその文字自身。数字は他の数字に続いてはいけません（####_#### は 8980_0000、つまり 8980 eV を見つけます）</translation>
    </message>
</context>
<context>
    <name>SelectAFile</name>
    <message>
        <source>Select a File</source>
        <translation>ファイル選択</translation>
    </message>
    <message>
        <source>Select</source>
        <translation>選択</translation>
    </message>
    <message>
        <source>Name</source>
        <translation>名前</translation>
    </message>
    <message>
        <source>Tag</source>
        <translation>タグ</translation>
    </message>
    <message>
        <source>Clear</source>
        <translation>クリア</translation>
    </message>
    <message>
        <source>Any file (* *.*)</source>
        <translation>すべてのファイル (* *.*)</translation>
    </message>
    <message>
        <source>Img file (*.img)</source>
        <translation>Imgファイル (*.img)</translation>
    </message>
    <message>
        <source>Tiff file (*.tif *.tiff)</source>
        <translation>Tiffファイル (*.tif *.tiff)</translation>
    </message>
    <message>
        <source>Choose the file or folder.</source>
        <translation>ファイルまたはフォルダを選びます。</translation>
    </message>
    <message>
        <source>Forget the file or folder.</source>
        <translation>ファイルまたはフォルダの選択を消します。</translation>
    </message>
</context>
<context>
    <name>SelectAImgFile</name>
    <message>
        <source>Select an Image File</source>
        <translation>画像ファイル選択</translation>
    </message>
    <message>
        <source>Exp. Time[s]</source>
        <translation>露光時間[s]</translation>
    </message>
    <message>
        <source>Show Img</source>
        <translation>画像表示</translation>
    </message>
    <message>
        <source>Show the image in its tab.</source>
        <translation>画像をそのタブに表示します。</translation>
    </message>
</context>
<context>
    <name>SelectDataDir</name>
    <message>
        <source>Select Data Folder</source>
        <translation>データフォルダ選択</translation>
    </message>
    <message>
        <source>ZBX Std.</source>
        <translation>ZBX標準</translation>
    </message>
    <message>
        <source>Next</source>
        <translation>次へ</translation>
    </message>
    <message>
        <source>Set</source>
        <translation>設定</translation>
    </message>
    <message>
        <source>Sel. Data Dir.</source>
        <translation>データフォルダ選択</translation>
    </message>
    <message>
        <source>The data sets found in the folder.</source>
        <translation>フォルダで見つかったデータセット。</translation>
    </message>
    <message>
        <source>The data sets are told by ZBX standard file names in one folder, not by sub folders.</source>
        <translation>データセットをサブフォルダではなく、一つのフォルダ内の ZBX 標準のファイル名で区別します。</translation>
    </message>
    <message>
        <source>Go to the next data set of the list.</source>
        <translation>リストの次のデータセットに進みます。</translation>
    </message>
    <message>
        <source>Load the data set chosen.</source>
        <translation>選んだデータセットを読み込みます。</translation>
    </message>
</context>
<context>
    <name>SelectDataFiles</name>
    <message>
        <source>Select Data Files</source>
        <translation>データファイル選択</translation>
    </message>
    <message>
        <source>Data Select</source>
        <translation>データ選択</translation>
    </message>
    <message>
        <source>Clear</source>
        <translation>クリア</translation>
    </message>
    <message>
        <source>New</source>
        <translation>新規</translation>
    </message>
    <message>
        <source>Add</source>
        <translation>追加</translation>
    </message>
    <message>
        <source>keep Conds.</source>
        <translation>条件保持</translation>
    </message>
    <message>
        <source>Multi.</source>
        <translation>複数回</translation>
    </message>
    <message>
        <source>Exp. Time[s]</source>
        <translation>露光時間[s]</translation>
    </message>
    <message>
        <source>Itex File (*.img)</source>
        <translation>Itexファイル (*.img)</translation>
    </message>
    <message>
        <source>Tiff File (*.tif *.tiff)</source>
        <translation>Tiffファイル (*.tif *.tiff)</translation>
    </message>
    <message>
        <source>HDF5 File (*.h5 *.hdf5 *.nxs)</source>
        <translation>HDF5ファイル (*.h5 *.hdf5 *.nxs)</translation>
    </message>
    <message>
        <source>Any Files (* *.*)</source>
        <translation>すべてのファイル (* *.*)</translation>
    </message>
    <message>
        <source>Choose the projection files (Ctrl+O).</source>
        <translation>投影ファイルを選びます (Ctrl+O)。</translation>
    </message>
    <message>
        <source>The files loaded.</source>
        <translation>読み込んだファイル。</translation>
    </message>
    <message>
        <source>Forget the files loaded.</source>
        <translation>読み込んだファイルを消します。</translation>
    </message>
    <message>
        <source>Files chosen replace the set.</source>
        <translation>選んだファイルでセットを置き換えます。</translation>
    </message>
    <message>
        <source>Files chosen are added to the set.</source>
        <translation>選んだファイルをセットに加えます。</translation>
    </message>
    <message>
        <source>Load the first file chosen as many times as the number beside.</source>
        <translation>選んだ最初のファイルを横の数だけ繰り返して読み込みます。</translation>
    </message>
    <message>
        <source>Keep the slice range and the other values a new set would reset to its defaults.</source>
        <translation>新しいセットが既定値に戻すスライス範囲などの値を保ちます。</translation>
    </message>
</context>
<context>
    <name>SelectDir</name>
    <message>
        <source>Select a Folder</source>
        <translation>フォルダ選択</translation>
    </message>
    <message>
        <source>Sel. Dir</source>
        <translation>フォルダ選択</translation>
    </message>
    <message>
        <source>Choose the folder.</source>
        <translation>フォルダを選びます。</translation>
    </message>
</context>
</TS>
