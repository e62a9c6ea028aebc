// What the benchmarks give VESKAR_SIGNS: 32 texts a German site might name, the stock
// Windows client's messages in German among them, short and long, and the locale they
// run veskar in, whose C library texts are searched as well.
#pragma once

const char bench_site_signs[] =
    "Nicht verbunden.;Ung\xc3\xbcltiger Befehl.;Anmeldung fehlgeschlagen.;Unbekannter Host.;"
    "Verbindung vom Remotehost geschlossen.;Das Netzwerk ist nicht verf\xc3\xbcgbar;"
    "Zeit\xc3\xbc" "berschreitung;Fehler beim \xc3\x96" "ffnen der Skriptdatei;"
    "Fehler beim \xc3\x96" "ffnen der lokalen Datei;Datei nicht gefunden;"
    "Nicht gen\xc3\xbcgend Arbeitsspeicher;Verbindung abgelehnt;\xc3\x9c" "bertragung abgebrochen;"
    "Zugriff verweigert;Ung\xc3\xbcltiger Modus;Keine Steuerverbindung f\xc3\xbcr den Befehl;"
    "Versuchen Sie es sp\xc3\xa4ter erneut;Fehler beim Lesen des Kennworts;"
    "Mehrdeutiger Hilfebefehl;Ung\xc3\xbcltiger Hilfebefehl;zu tief;Keine Verbindung;Fehler 530;"
    "Quota \xc3\xbc" "berschritten;Sitzung beendet;Upload fehlgeschlagen;Download fehlgeschlagen;"
    "Verzeichnis fehlt;Kein Platz;Abbruch;Servicefehler;Datenverbindung unterbrochen";

const char bench_locale[] = "de_DE.UTF-8";
