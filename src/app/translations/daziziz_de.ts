<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de">
<context>
    <name>main</name>
    <message>
        <source>Converts video and sound files for players and phones.</source>
        <translation>Wandelt Video- und Tondateien für Player und Telefone um.</translation>
    </message>
    <message>
        <source>files</source>
        <translation>Dateien</translation>
    </message>
    <message>
        <source>Media files or folders to add to the list.</source>
        <translation>Mediendateien oder Ordner, die der Liste hinzugefügt werden.</translation>
    </message>
    <message>
        <source>[FILE...]</source>
        <translation>[DATEI...]</translation>
    </message>
</context>
</TS>
