-- A central server's catalogue for the collection transfer tests, loaded after the two schema files.
-- Libraries 2 and 1234 hold collections; library 123 holds one record, so that reading only the first
-- three digits of "1234" would export the wrong library. Dates sit in March 2024: export with the
-- window 2024-03-01 .. 2024-03-31.
--
-- What an export of library 2 for that window stages (the counts the tests check):
--   records 4, 5, 6, 7, 9 by items or capture date; analytic record 8 by its type (7 is staged once,
--   although it also qualifies by its item); the marker record above every live idficha (13, not 10:
--   record 10 is library 1234's and its tags, index word and holding stay out);
--   items 4, 6, 7, 9, 10 (1 and 2: status NEW/PEN; 3: entered at 00:00:00 on the first day; 5: not
--   accessible; 8 and 11: before the window); distribution rows 1 and 2, shipment 1, receptions 1 and 2;
--   13 tag rows, 4 index words, holding 1, schools 1 and 2, library 2; authorities 1, 2, 3 and
--   references 1, 2 (links are matched on the id alone).
-- Library 1234 stages records 10, 12 and the marker, items 13 and 14, 3 tag rows, reference 5.
-- The previous generation's file of library 2 (everything up to today, material types below 15)
-- stages records 3, 4, 5, 6, 7 (3 and 4 share ficha_no 104 and get renumbered) and items 3, 4, 6, 7,
-- 8, 9, 11; item "l2-0042" repeats "L2-0042" but for case and is rejected by the file's key; the title
-- of record 5, the analyst of item 4 and the status codes do not fit the file's fields as they are.
-- The end of the file adds what the import's tests need, without changing any of these counts.

-- The server function that the database restore installs; the previous generation's file reads
-- every tag through it.
CREATE OR REPLACE FUNCTION analisis.referenciacatalogos2(text, bigint, text)
RETURNS text AS
$BODY$ --$1 contenido, $2 idlink, $3 tabla
declare
posicion1 integer;
posicion2 integer;
longitud integer;
cadena1 text;
cadena2 text;
cadena3 text;
begin
posicion1=strpos($1,'@@');
cadena1=$1;
If (posicion1 > 0) Then
cadena1='';
posicion2=strpos($1,'!');
If (posicion1 > 1) Then
cadena1=substr($1,1,posicion1-1);
end if;
longitud = posicion2-posicion1+1;
If (longitud < 0) Then
cadena2=substr($1,posicion1, length(cadena1));
Else
cadena2=substr($1,posicion1,posicion2-posicion1+1);
end if;cadena3=substr($1,posicion2+1);
cadena1=cadena1 || analisis.catalogos2($2,$3,cadena2) || cadena3;
end if;
return cadena1;
end ; $BODY$
LANGUAGE plpgsql VOLATILE
COST 100;

INSERT INTO catalogos.bibliotecas (idbiblioteca, nombre, nombrecorto, director, telefono, correo) VALUES
    (2, 'Biblioteca Central', 'Central', 'Laura Méndez', '555-0102', 'central@example.org'),
    (123, 'Biblioteca Norte', 'Norte', 'Raúl Soto', '555-0123', 'norte@example.org'),
    (1234, 'Biblioteca Sur', 'Sur', 'Marta Ríos', '555-1234', 'sur@example.org');

INSERT INTO catalogos.escuelas (idescuela, nombre, nombrecorto, idbiblioteca) VALUES
    (1, 'Primaria Uno', 'EP1', 2),
    (2, 'Secundaria Dos', 'ES2', 2),
    (3, 'Preparatoria Sur', 'PS', 1234),
    (4, 'Escuela Norte', 'EN', 123);

INSERT INTO catalogos.colecciones (idcoleccion, nombre) VALUES (1, 'General'), (2, 'Consulta');

INSERT INTO catalogos.autoridades (idautoridad, autoridad) VALUES
    (1, 'Cervantes Saavedra, Miguel de'),
    (2, 'García Márquez, Gabriel'),
    (3, 'Rulfo, Juan');

INSERT INTO catalogos.referencias (idreferencia, referencia) VALUES
    (1, 'Literatura española'),
    (2, 'Novela latinoamericana'),
    (5, 'Literatura mexicana');

INSERT INTO analisis.fichas (idficha, ficha_no, idbiblioteca, idtipomaterial, tipoficha, estatus, idholding, titulo,
                             autor, clasificacion, editorial, isbn, fechacaptura) VALUES
    (1, 101, 2, 1, 'L', 'NEW', NULL, 'Borrador nuevo', 'Anónimo', '000 B67', NULL, NULL, '2024-03-04 10:00'),
    (2, 102, 2, 1, 'L', 'PEN', NULL, 'Pendiente de revisión', 'Anónimo', '000 P46', NULL, NULL, '2024-03-04 11:00'),
    (3, 104, 2, 1, 'L', NULL, NULL, 'Novelas ejemplares', 'Cervantes Saavedra, Miguel de', '863 C419n', 'Castalia',
     '978-84-9740-000-1', '2023-06-01 09:00'),
    (4, 104, 2, 1, 'L', 'CAP', NULL, 'Don Quijote de la Mancha', 'Cervantes Saavedra, Miguel de', '863 C419\q',
     'Cátedra', '978-84-376-0494-7', '2023-05-10 12:00'),
    (5, 105, 2, 1, 'L', 'CAP', NULL,
     'Cien años de soledad: edición conmemorativa de la Real Academia Española', 'García Márquez, Gabriel',
     '863 G216c', 'Alfaguara', '978-84-204-6812-0', '2024-03-10 12:00'),
    (6, 106, 2, 2, 'R', 'CAP', NULL, 'Revista d''Art \ Letras', NULL, '050 R454', 'UNAM', NULL, '2024-03-15 08:30'),
    (7, 107, 2, 2, 'A', 'CAP', 1, 'Artículo sobre Rulfo', 'O''Brien, Flann', NULL, NULL, NULL, '2022-01-20 10:00'),
    (8, 108, 2, 2, 'A', 'CAP', 1, 'Otro artículo', 'Pérez, Ana', NULL, NULL, NULL, '2022-01-21 10:00'),
    (9, 109, 2, 15, 'L', 'CAP', NULL, 'Grabaciones de poesía', 'Varios', '861 G73', NULL, NULL, '2024-03-25 10:00'),
    (10, 501, 1234, 1, 'L', 'CAP', NULL, 'Pedro Páramo', 'Rulfo, Juan', '863 R935p', 'FCE', NULL, '2020-01-01 10:00'),
    (11, 301, 123, 1, 'L', 'CAP', NULL, 'Biblioteca Norte: guía', 'Anónimo', '027 B52', NULL, NULL,
     '2020-01-01 10:00'),
    (12, 502, 1234, 1, 'L', 'CAP', NULL, 'El llano en llamas', 'Rulfo, Juan', '863 R935l', 'FCE', NULL,
     '2020-01-01 10:00');
SELECT setval('analisis.fichas_idficha_seq', 12);

INSERT INTO analisis.holdings (idholding, idficha) VALUES (1, 6), (2, 10);
SELECT setval('analisis.holdings_idholding_seq', 2);

INSERT INTO analisis.ejemplares (idejemplar, idficha, ficha_no, no_adqui, idbiblioteca, idescuela, idcoleccion,
                                 idholding, fechaingreso, volumen, ejemplar, tomo, accesible, analista) VALUES
    (1, 1, 101, 'L2-0001', 2, 1, 1, NULL, '2024-03-05 10:00', 1, 1, NULL, 1, 'ana'),
    (2, 2, 102, 'L2-0002', 2, 1, 1, NULL, '2024-03-06 10:00', 1, 1, NULL, 1, 'ana'),
    (3, 3, 104, 'L2-0003', 2, 1, 1, NULL, '2024-03-01 00:00:00', 1, 1, NULL, 1, 'ana'),
    (4, 4, 104, 'L2-0004', 2, 1, 1, NULL, '2024-03-05 09:00', 1, 1, 1, 1, 'catalogador_principal'),
    (5, 4, 104, 'L2-0099', 2, 1, 1, NULL, '2024-03-12 09:00', 1, 2, 1, 20, 'ana'),
    (6, 5, 105, 'L2-0042', 2, 2, 2, NULL, '2024-03-10 12:00', 1, 1, NULL, 1, 'luis'),
    (7, 5, 105, 'L2-0007', 2, 2, 2, NULL, '2024-03-11 12:00', 1, 2, NULL, 2, 'luis'),
    (8, 6, 106, 'R2-0001', 2, 2, 1, 1, '2023-01-15 10:00', 3, 1, NULL, 1, 'luis'),
    (9, 7, 107, 'l2-0042', 2, 1, 1, 1, '2024-03-31 23:59:59', NULL, 1, NULL, 1, 'luis'),
    (10, 9, 109, 'C2-0001', 2, NULL, 1, NULL, '2024-03-25 10:00', NULL, 1, NULL, 1, 'ana'),
    (11, 4, 104, 'L2-0011', 2, 1, 1, NULL, '2024-02-28 23:59:59', 1, 3, 1, 1, 'ana'),
    (12, 11, 301, 'N-0001', 123, 4, 1, NULL, '2024-03-12 10:00', NULL, 1, NULL, 1, 'rosa'),
    (13, 10, 501, 'S-0001', 1234, 3, 1, NULL, '2024-03-07 10:00', NULL, 1, NULL, 1, 'rosa'),
    (14, 12, 502, 'S-0002', 1234, 3, 1, NULL, '2024-03-08 10:00', NULL, 1, NULL, 1, 'rosa');
SELECT setval('analisis.ejemplares_idejemplar_seq', 14);

INSERT INTO analisis.enviosdpi (idenviodpi, fechaenvio) VALUES
    (1, '2024-03-02 09:00'), (2, '2024-03-03 09:00'), (3, '2024-02-20 09:00');
SELECT setval('analisis.enviosdpi_idenviodpi_seq', 3);
INSERT INTO analisis.recepcionesdpi (idrecepciondpi, fecharecepcion) VALUES
    (1, '2024-03-04 09:00'), (2, '2024-03-05 09:00'), (3, '2024-03-06 09:00');
SELECT setval('analisis.recepcionesdpi_idrecepciondpi_seq', 3);

INSERT INTO analisis.ejemplaresdetallesdpi (iddetalledpi, idficha, numadqui, idbiblioteca, idescuela, idenviodpi,
                                            idrecepciondpi, idrecepcionbib, fecharecepcionbib) VALUES
    (1, 4, 'L2-0004', 2, 1, 1, 1, 1, '2024-03-06 10:00'),
    (2, 5, 'L2-0042', 2, 2, 1, 2, NULL, NULL),
    (3, 10, 'S-0001', 1234, 3, 2, 3, 3, '2024-03-08 10:00'),
    (4, 4, 'L2-0011', 2, 1, 3, 3, NULL, NULL);
SELECT setval('analisis.ejemplaresdetallesdpi_iddetalledpi_seq', 4);

-- References are written "@@" + table code + id + "!"; only tags 0-99, 261-399 and 500-599 get linked.
INSERT INTO analisis.etiquetasmarc (idregistro, idficha, numetiqueta, subcampo, jerarquia, posicion, contenido) VALUES
    (1, 1, 90, 'a', 1, 1, '@@AU2!'),
    (2, 4, 8, 'a', 1, 1, '080101s1605    sp'),
    (3, 4, 20, 'a', 1, 1, '978-84-376-0494-7'),
    (4, 4, 100, 'a', 1, 1, '@@AU1!'),
    (5, 4, 245, 'a', 1, 1, 'Don Quijote de la Mancha'),
    (6, 4, 245, 'b', 1, 2, 'primera parte'),
    (7, 4, 500, 'a', 1, 1, 'Incluye notas de @@AU1!'),
    (8, 5, 245, 'a', 1, 1, 'Cien años de soledad'),
    (9, 5, 590, 'a', 1, 1, '@@RE2!'),
    (10, 6, 245, 'a', 1, 1, 'Revista d''Art \ Letras'),
    (11, 7, 245, 'a', 1, 1, 'Artículo sobre Rulfo'),
    (12, 7, 520, 'a', 1, 1, 'Resumen: @@AU3!'),
    (13, 8, 245, 'a', 1, 1, 'Otro artículo'),
    (14, 9, 245, 'a', 1, 1, 'Grabaciones de poesía'),
    (15, 10, 245, 'a', 1, 1, 'Pedro Páramo'),
    (16, 10, 500, 'a', 1, 1, '@@RE5!'),
    (17, 11, 245, 'a', 1, 1, 'Biblioteca Norte: guía'),
    (18, 12, 245, 'a', 1, 1, 'El llano en llamas'),
    (19, 3, 245, 'a', 1, 1, 'Novelas ejemplares');
SELECT setval('analisis.etiquetasmarc_idregistro_seq', 19);

INSERT INTO indizados.palabras (idpalabra, idficha, idbiblioteca, palabra) VALUES
    (1, 4, 2, 'quijote'), (2, 4, 2, 'mancha'), (3, 5, 2, 'soledad'), (4, 7, 2, 'rulfo'),
    (5, 10, 1234, 'paramo'), (6, 1, 2, 'borrador'), (7, 12, 1234, 'llano');
SELECT setval('indizados.palabras_idpalabra_seq', 7);

-- Loans and reservations of the libraries' own servers travel with their copies of this catalogue.
INSERT INTO prestamo.prestamos (idprestamo, no_adqui, titulo, autor, clasificacion, idbiblioteca) VALUES
    (1, 'L2-0004', 'Don Quijote de la Mancha', 'Cervantes Saavedra, Miguel de', '863 C419\q', 2),
    (2, 'L2-0099', 'Don Quijote de la Mancha', 'Cervantes Saavedra, Miguel de', '863 C419\q', 2),
    (3, 'S-0001', 'Pedro Páramo', 'Rulfo, Juan', '863 R935p', 1234);
SELECT setval('prestamo.prestamos_idprestamo_seq', 3);
INSERT INTO prestamo.reservaciones (idreservacion, no_adqui, titulo, autor, clasificacion, idbiblioteca) VALUES
    (1, 'L2-0011', 'Don Quijote de la Mancha', 'Cervantes Saavedra, Miguel de', '863 C419\q', 2);
SELECT setval('prestamo.reservaciones_idreservacion_seq', 1);

-- What the import on library 2's own server needs besides. The counts above stay true: the new items
-- sit outside March 2024 on record 9, whose type 15 the previous generation's file leaves out; record
-- 8 is still staged by its type, and index word 2 moves from one staged record to another.
--
-- An export of library 2 for 1900-01-01 .. 2100-12-31 stages records 3, 4, 5, 6, 7, 8, 9 and the
-- marker 13; items 3, 4, 6, 7, 8, 9, 10, 11, 15, 16 (1, 2: NEW/PEN; 5: not accessible); distribution
-- rows 1, 2, 4, 5; holding 1; schools 1, 2; library 2; authorities 1, 2, 3; references 1, 2.
-- Merged, the library keeps records 3, 4, 5, 6, 7, 9: record 8 hangs from holding 9, which no staged
-- record has, so it is left out with its tag and its index word.
INSERT INTO catalogos.colecciones (idcoleccion, nombre) VALUES (3, 'Tesis');

UPDATE analisis.fichas SET idholding = 9 WHERE idficha = 8;
UPDATE indizados.palabras SET idficha = 8, palabra = 'articulo' WHERE idpalabra = 2;
-- Being merged: the import closes the status.
UPDATE analisis.fichas SET estatus = 'MON' WHERE idficha = 9;
-- On its way to the library (accesible 9); the library has recorded its reception already.
UPDATE analisis.ejemplares SET accesible = 9 WHERE idejemplar = 11;

-- A thesis (numbered T…: the import lowers its accessibility by 8) in collection 3, and accompanying
-- material, which the import's counts leave out.
INSERT INTO analisis.ejemplares (idejemplar, idficha, ficha_no, no_adqui, idbiblioteca, idescuela, idcoleccion,
                                 idholding, fechaingreso, volumen, ejemplar, tomo, accesible, esmatcomp, analista) VALUES
    (15, 9, 109, 'T2-0001', 2, 1, 3, NULL, '2024-02-10 11:00', NULL, 1, NULL, 12, false, 'eva'),
    (16, 9, 109, 'C2-0002', 2, 2, 1, NULL, '2024-02-10 11:00', NULL, 2, NULL, 1, true, 'eva');
SELECT setval('analisis.ejemplares_idejemplar_seq', 16);

-- Sent to school 2, although the item is school 1's: the import takes the item's school.
INSERT INTO analisis.ejemplaresdetallesdpi (iddetalledpi, idficha, numadqui, idbiblioteca, idescuela, idenviodpi,
                                            idrecepciondpi, idrecepcionbib, fecharecepcionbib) VALUES
    (5, 9, 'T2-0001', 2, 2, 3, 3, NULL, NULL);
SELECT setval('analisis.ejemplaresdetallesdpi_iddetalledpi_seq', 5);
