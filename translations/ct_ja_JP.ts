<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ja_JP">
<context>
    <name>CorSweepPanel</name>
    <message>
        <source>Sweep</source>
        <translation>掃引</translation>
    </message>
    <message>
        <source>Use this CoR</source>
        <translation>この回転中心を使う</translation>
    </message>
    <message>
        <source>First centre of rotation of the sweep (pixels).</source>
        <translation>掃引の最初の回転中心 (ピクセル)。</translation>
    </message>
    <message>
        <source>Last centre of rotation of the sweep (included when a step lands on it).</source>
        <translation>掃引の最後の回転中心 (刻みがちょうど届けば含みます)。</translation>
    </message>
    <message>
        <source>Step between the centres of rotation of the sweep.</source>
        <translation>掃引の回転中心の間隔。</translation>
    </message>
    <message>
        <source>Set the centre of rotation to the one of the slice shown.</source>
        <translation>表示中のスライスの回転中心を回転中心に設定します。</translation>
    </message>
    <message>
        <source>Flip through the slices of the sweep.</source>
        <translation>掃引のスライスを順に見ます。</translation>
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
        <source>Step</source>
        <translation>間隔</translation>
    </message>
    <message>
        <source>No sweep yet</source>
        <translation>まだ掃引していません</translation>
    </message>
    <message>
        <source>No slice could be made</source>
        <translation>スライスを作れませんでした</translation>
    </message>
    <message>
        <source>CoR %1 (%2 of %3), total variation %4, least at %5</source>
        <translation>回転中心 %1 (%3 枚中 %2 枚目)、全変動 %4、最小は %5</translation>
    </message>
    <message>
        <source>Side by side</source>
        <translation>並べて表示</translation>
    </message>
    <message>
        <source>Reconstruct the current slice at every centre of rotation from From to To, with the method, filter and ring removal of the process control, on the threads of the process control. While it runs, the button stops it.</source>
        <translation>現在のスライスを From から To までの各回転中心で、処理制御の手法・フィルタ・リング除去により、処理制御のスレッド数で再構成します。実行中はこのボタンで停止します。</translation>
    </message>
    <message>
        <source>Show every slice of the sweep as a thumbnail labelled with its centre of rotation; click one to select it.</source>
        <translation>掃引の全スライスを回転中心の付いた縮小画像で並べて表示します。クリックで選択します。</translation>
    </message>
    <message>
        <source>Slices of the sweep made so far.</source>
        <translation>掃引で作成済みのスライス数。</translation>
    </message>
    <message>
        <source>Click a slice to select it; &quot;Use this CoR&quot; takes its centre.</source>
        <translation>スライスをクリックで選択し、「この回転中心を使う」でその中心を採用します。</translation>
    </message>
    <message>
        <source>Sweeping %1 centres of rotation on %2 threads</source>
        <translation>%1 個の回転中心を %2 スレッドで掃引中</translation>
    </message>
    <message>
        <source>Stop</source>
        <translation>停止</translation>
    </message>
    <message>
        <source>Sweep stopped before any slice was made</source>
        <translation>スライスが作られる前に掃引を停止しました</translation>
    </message>
    <message>
        <source>CoR %1</source>
        <translation>中心 %1</translation>
    </message>
</context>
<context>
    <name>CtCalc</name>
    <message>
        <source>CT Calc</source>
        <translation>CT計算</translation>
    </message>
    <message>
        <source>Disp R.</source>
        <translation>表示範囲</translation>
    </message>
    <message>
        <source>Cacl R.</source>
        <translation>計算範囲</translation>
    </message>
    <message>
        <source>Set To C. Region</source>
        <translation>計算範囲に設定</translation>
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
        <source>Spent [sec]</source>
        <translation>所要時間 [秒]</translation>
    </message>
    <message>
        <source>Calc</source>
        <translation>計算</translation>
    </message>
    <message>
        <source>Slice No.</source>
        <translation>スライス番号</translation>
    </message>
    <message>
        <source>At Once</source>
        <translation>一括</translation>
    </message>
    <message>
        <source>Make the part shown the calculation region.</source>
        <translation>表示している部分を計算領域にします。</translation>
    </message>
    <message>
        <source>Reconstruct the current slice.</source>
        <translation>現在のスライスを再構成します。</translation>
    </message>
    <message>
        <source>Reconstruct in one piece on all cores instead of projection by projection.</source>
        <translation>投影ごとではなく、全コアで一度に再構成します。</translation>
    </message>
</context>
<context>
    <name>ProcCtrl</name>
    <message>
        <source>Proc Control</source>
        <translation>処理制御</translation>
    </message>
    <message>
        <source>CT Proc. Ctrl : </source>
        <translation>CT処理制御 : </translation>
    </message>
    <message>
        <source>Method</source>
        <translation>再構成法</translation>
    </message>
    <message>
        <source>Reconstruction method. fbp: filtered back-projection, exact, the default. gridding: direct Fourier method, the same values within a fraction of a per cent of the slice&apos;s range and many times faster on large slices.</source>
        <translation>再構成法。fbp: フィルタ補正逆投影 (厳密、既定)。gridding: フーリエ直接法 (グリッディング)。値はスライスの値域の1%未満の差で一致し、大きなスライスでは何倍も速い。</translation>
    </message>
    <message>
        <source>Threads</source>
        <translation>スレッド</translation>
    </message>
    <message>
        <source>Filter</source>
        <translation>フィルタ</translation>
    </message>
    <message>
        <source>Filter of the projections. ramp: without zero padding (reads large objects low). ramp_padded: exact values for quantitative work. shepp_logan, cosine, hamming, hann: ramp_padded with a window, less noise and less resolution.</source>
        <translation>投影のフィルタ。ramp: ゼロ詰めなし(大きな試料は低く出る)。ramp_padded: 定量解析向けの正確な値。shepp_logan, cosine, hamming, hann: 窓付きの ramp_padded、ノイズも分解能も低い。</translation>
    </message>
    <message>
        <source>Slice : </source>
        <translation>スライス : </translation>
    </message>
    <message>
        <source>Center</source>
        <translation>中心</translation>
    </message>
    <message>
        <source>Current</source>
        <translation>現在</translation>
    </message>
    <message>
        <source>Rotation : </source>
        <translation>回転 : </translation>
    </message>
    <message>
        <source>  Ax</source>
        <translation>  軸</translation>
    </message>
    <message>
        <source>H</source>
        <translation>H</translation>
    </message>
    <message>
        <source>V</source>
        <translation>V</translation>
    </message>
    <message>
        <source>Angle Orig : </source>
        <translation>角度原点 : </translation>
    </message>
    <message>
        <source>[deg]</source>
        <translation>[度]</translation>
    </message>
    <message>
        <source>Data Set :  </source>
        <translation>データセット :  </translation>
    </message>
    <message>
        <source>Imgs</source>
        <translation>画像数</translation>
    </message>
    <message>
        <source>[#]</source>
        <translation>[#]</translation>
    </message>
    <message>
        <source>Range</source>
        <translation>範囲</translation>
    </message>
    <message>
        <source>Partial</source>
        <translation>部分</translation>
    </message>
    <message>
        <source>Start [#]</source>
        <translation>開始 [#]</translation>
    </message>
    <message>
        <source>Using Images[#]</source>
        <translation>使用画像数[#]</translation>
    </message>
    <message>
        <source>Auto Exec</source>
        <translation>自動実行</translation>
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
        <source>Step</source>
        <translation>間隔</translation>
    </message>
    <message>
        <source>Record. COR</source>
        <translation>記録COR</translation>
    </message>
    <message>
        <source>Record</source>
        <translation>記録</translation>
    </message>
    <message>
        <source>Clear</source>
        <translation>クリア</translation>
    </message>
    <message>
        <source>Rings</source>
        <translation>リング</translation>
    </message>
    <message>
        <source>Ring removal: the widest detector stripe taken out of each sinogram, in pixels (0: off). 2 or 3 suits most data; a stripe on a round structure centred on the axis is left alone.</source>
        <translation>リング除去: 各サイノグラムから取り除く検出器の縞の最大幅(ピクセル、0 で無効)。たいていのデータには 2 か 3 が適します。回転軸を中心とする円形の構造上にある縞はそのまま残します。</translation>
    </message>
    <message>
        <source>Slice</source>
        <translation>スライス</translation>
    </message>
    <message>
        <source>Slice From</source>
        <translation>開始スライス</translation>
    </message>
    <message>
        <source>Slice To</source>
        <translation>終了スライス</translation>
    </message>
    <message>
        <source>Slice Step</source>
        <translation>スライス間隔</translation>
    </message>
    <message>
        <source>Images</source>
        <translation>画像数</translation>
    </message>
    <message>
        <source>Start Image</source>
        <translation>開始画像</translation>
    </message>
    <message>
        <source>Using Images</source>
        <translation>使用画像数</translation>
    </message>
    <message>
        <source>CoR</source>
        <translation>回転中心</translation>
    </message>
    <message>
        <source>Angle Origin</source>
        <translation>角度原点</translation>
    </message>
    <message>
        <source>Data Set Range</source>
        <translation>データセット角度範囲</translation>
    </message>
    <message>
        <source>%1: %2 is not taken, the set has slices 0 ... %3; it stays %4</source>
        <translation>%1: %2 は使えません。セットのスライスは 0 ... %3 です。%4 のままです</translation>
    </message>
    <message>
        <source>%1: &quot;%2&quot; is not a number; it stays %3</source>
        <translation>%1: 「%2」は数値ではありません。%3 のままです</translation>
    </message>
    <message>
        <source>Worker threads a CT2 run uses.</source>
        <translation>CT2 の実行で使うワーカースレッドの数。</translation>
    </message>
    <message>
        <source>The rotation axis lies horizontal in the images: slices are image columns.</source>
        <translation>回転軸は画像の水平方向: スライスは画像の列です。</translation>
    </message>
    <message>
        <source>The rotation axis stands vertical in the images: slices are image rows.</source>
        <translation>回転軸は画像の垂直方向: スライスは画像の行です。</translation>
    </message>
    <message>
        <source>Reconstruct the slice range From ... To by Step on the workers.</source>
        <translation>スライス範囲 From ... To を Step ごとにワーカーで再構成します。</translation>
    </message>
    <message>
        <source>Record the current slice and centre of rotation (two records give a tilted axis).</source>
        <translation>現在のスライスと回転中心を記録します (二つの記録で傾いた軸になります)。</translation>
    </message>
    <message>
        <source>Forget the recorded centres of rotation.</source>
        <translation>記録した回転中心を消します。</translation>
    </message>
    <message>
        <source>Reconstruct from a part of the images only: &quot;Using Images&quot; of them from &quot;Start&quot;.</source>
        <translation>画像の一部だけから再構成します: &quot;Start&quot; から &quot;Using Images&quot; 枚。</translation>
    </message>
</context>
<context>
    <name>Sinogram</name>
    <message>
        <source>Sinogram</source>
        <translation>サイノグラム</translation>
    </message>
    <message>
        <source>CoR</source>
        <translation>回転中心</translation>
    </message>
    <message>
        <source>Guess CoR</source>
        <translation>回転中心を推定</translation>
    </message>
    <message>
        <source>Gen Image</source>
        <translation>画像生成</translation>
    </message>
    <message>
        <source>Gen Fou. Sinogram</source>
        <translation>フーリエサイノグラム生成</translation>
    </message>
    <message>
        <source>Find the centre of rotation from projections half a turn apart (Ctrl+G).</source>
        <translation>半回転離れた投影から回転中心を求めます (Ctrl+G)。</translation>
    </message>
    <message>
        <source>Make the sinogram picture again.</source>
        <translation>サイノグラム画像を作り直します。</translation>
    </message>
    <message>
        <source>Also show the Fourier transform of the sinogram.</source>
        <translation>サイノグラムのフーリエ変換も表示します。</translation>
    </message>
</context>
</TS>
