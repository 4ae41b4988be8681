<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ja_JP">
<context>
    <name>Body</name>
    <message>
        <source>Vexa2 CT reconstruction</source>
        <translation>Vexa2 CT 再構成</translation>
    </message>
</context>
</TS>
