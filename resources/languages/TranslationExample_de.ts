<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>Translators</name>
    <message>
        <source>LANGUAGE_NAME</source>
        <extracomment>The language&apos;s own name. Every translation carries it, so that no compiled file is empty: Qt does not install an empty translation.</extracomment>
        <translation>Deutsch</translation>
    </message>
</context>
</TS>
